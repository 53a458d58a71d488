// Subcommands of ruvo-pack: image, catalogue, publish, verify, inspect.
#include "cli.h"

#include <cstring>
#include <filesystem>

#include "files.h"
#include "package_reader.h"
#include "release.h"
#include "signing_cli.h"
#include "update/catalogue.h"
#include "update/package.h"
#include "update/package_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char USAGE[] =
    "usage: ruvo-pack <command> [arguments]\n"
    "\n"
    "  image --id ID --first-block N -o PACKAGE FIRMWARE\n"
    "      Image package of FIRMWARE written from flash block N on; the last page\n"
    "      is padded with 0xFF. ID is the 4-character image id (characters 2-5 of\n"
    "      its catalogue name).\n"
    "  catalogue --model ID [--status N] -o PACKAGE --record NAME IMAGE_PACKAGE DESCRIPTION ...\n"
    "      Catalogue package of model ID; each --record takes the record's name,\n"
    "      the image package file (its size goes into the record, and it must\n"
    "      pass the check under the name's id) and a UTF-8 description. Status\n"
    "      defaults to 2 (current).\n"
    "  publish MANIFEST OUTDIR\n"
    "      Builds a whole release from MANIFEST into OUTDIR/BRELM/Door/<model>.Bin\n"
    "      and OUTDIR/BRELM/Pool/<name>; see README.md for the manifest format.\n"
    "  verify catalogue|image ID PACKAGE\n"
    "      Runs the updater's own package check (and, for a current catalogue,\n"
    "      its record walk) and prints the result code, name and meaning.\n"
    "  inspect [--id ID] PACKAGE\n"
    "      Prints the decoded header and the catalogue records or image layout;\n"
    "      the id and kind are recovered from the file unless --id is given.\n"
    "%s"
    "\n"
    "exit codes: 0 done / accepted, 1 refused by the check, 2 usage error,\n"
    "            3 input breaks a rule, 4 file could not be read or written\n";

struct Context {
    std::ostream& out;
    std::ostream& err;

    int Fail(int exitCode, const std::string& message) const
    {
        err << "ruvo-pack: " << message << "\n";
        if (exitCode == PACK_EXIT_USAGE) err << "Try 'ruvo-pack --help'.\n";
        return exitCode;
    }
};

bool ParseUnsigned(const std::string& text, uint32_t max, uint32_t* value)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long long number = std::stoull(text);
    if (number > max) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

// Image package whose id must come from the name, checked like a download.
bool BuildCheckedImage(const std::string& id, uint32_t firstBlock, const Bytes& firmware, Bytes* package,
                       std::string* error)
{
    if (!BuildImagePackage(id.c_str(), firstBlock, firmware, package, error)) return false;
    const int32_t code = CheckStoredPackage(PACKAGE_IMAGE, *package, id, nullptr);
    if (code != PACKAGE_OK) {
        *error = std::string("the image package fails the check: ") + PackageResultName(code);
        return false;
    }
    return true;
}

bool BuildCheckedCatalogue(const std::string& model, uint8_t status, const std::vector<CatalogueRecordInput>& records,
                           Bytes* package, std::string* error)
{
    if (!BuildCataloguePackage(model.c_str(), status, records, package, error)) return false;
    Bytes plain;
    const int32_t code = CheckStoredPackage(PACKAGE_CATALOGUE, *package, model, &plain);
    if (code != PACKAGE_OK) {
        *error = std::string("the catalogue fails the check: ") + PackageResultName(code);
        return false;
    }
    CatalogueWalk walk;
    const int32_t walked = WalkCatalogue(plain.data(), plain.size(), &walk);
    if (walked != CATALOGUE_OK) {
        *error = std::string("the catalogue fails the walk: ") + CatalogueResultName(walked);
        return false;
    }
    return true;
}

int RunImage(const Context& cx, const std::vector<std::string>& args)
{
    std::string id, output, firmwarePath;
    uint32_t firstBlock = 0;
    bool haveBlock = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--id" && hasValue) {
            id = args[++i];
        } else if (arg == "--first-block" && hasValue) {
            if (!ParseUnsigned(args[++i], 65535, &firstBlock)) {
                return cx.Fail(PACK_EXIT_USAGE, "--first-block takes a number from 0 to 65535");
            }
            haveBlock = true;
        } else if (arg == "-o" && hasValue) {
            output = args[++i];
        } else if (!arg.empty() && arg[0] != '-' && firmwarePath.empty()) {
            firmwarePath = arg;
        } else {
            return cx.Fail(PACK_EXIT_USAGE, "image: unexpected argument \"" + arg + "\"");
        }
    }
    if (id.empty() || !haveBlock || output.empty() || firmwarePath.empty()) {
        return cx.Fail(PACK_EXIT_USAGE, "image needs --id, --first-block, -o and a firmware file");
    }
    std::string error;
    if (!CheckPackageIdText(id, "image id", &error)) return cx.Fail(PACK_EXIT_BAD_INPUT, error);
    Bytes firmware, package;
    if (!ReadWholeFile(firmwarePath, &firmware, &error)) return cx.Fail(PACK_EXIT_IO, error);
    if (!BuildCheckedImage(id, firstBlock, firmware, &package, &error)) return cx.Fail(PACK_EXIT_BAD_INPUT, error);
    if (!WriteWholeFile(output, package, &error)) return cx.Fail(PACK_EXIT_IO, error);
    cx.out << output << ": image \"" << id << "\", " << package.size() << " bytes\n";
    return PACK_EXIT_OK;
}

int RunCatalogue(const Context& cx, const std::vector<std::string>& args)
{
    std::string model, output;
    uint32_t status = CATALOGUE_STATUS_CURRENT;
    struct RecordArgs {
        std::string name, packagePath, description;
    };
    std::vector<RecordArgs> recordArgs;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--model" && i + 1 < args.size()) {
            model = args[++i];
        } else if (arg == "--status" && i + 1 < args.size()) {
            if (!ParseUnsigned(args[++i], 255, &status)) return cx.Fail(PACK_EXIT_USAGE, "--status takes 0 to 255");
        } else if (arg == "-o" && i + 1 < args.size()) {
            output = args[++i];
        } else if (arg == "--record" && i + 3 < args.size()) {
            recordArgs.push_back({args[i + 1], args[i + 2], args[i + 3]});
            i += 3;
        } else {
            return cx.Fail(PACK_EXIT_USAGE, "catalogue: unexpected or incomplete argument \"" + arg + "\"");
        }
    }
    if (model.empty() || output.empty()) return cx.Fail(PACK_EXIT_USAGE, "catalogue needs --model and -o");

    std::string error;
    if (!CheckPackageIdText(model, "model id", &error)) return cx.Fail(PACK_EXIT_BAD_INPUT, error);
    std::vector<std::string> names;
    for (const RecordArgs& r : recordArgs) names.push_back(r.name);
    if (!CheckRecordNames(names, &error)) return cx.Fail(PACK_EXIT_BAD_INPUT, error);

    std::vector<CatalogueRecordInput> records;
    for (const RecordArgs& r : recordArgs) {
        CatalogueRecordInput record;
        record.name = r.name;
        if (!DescriptionFromUtf8(r.description, &record.description, &error)) {
            return cx.Fail(PACK_EXIT_BAD_INPUT, error);
        }
        Bytes image;
        if (!ReadWholeFile(r.packagePath, &image, &error)) return cx.Fail(PACK_EXIT_IO, error);
        const int32_t code = CheckStoredPackage(PACKAGE_IMAGE, image, PackageIdOfName(r.name), nullptr);
        if (code != PACKAGE_OK) {
            return cx.Fail(PACK_EXIT_BAD_INPUT, "\"" + r.packagePath + "\" is no image package for \"" + r.name +
                                                    "\" (id \"" + PackageIdOfName(r.name) +
                                                    "\"): " + PackageResultName(code));
        }
        record.size = static_cast<uint32_t>(image.size());
        records.push_back(std::move(record));
    }
    Bytes package;
    if (!BuildCheckedCatalogue(model, static_cast<uint8_t>(status), records, &package, &error)) {
        return cx.Fail(PACK_EXIT_BAD_INPUT, error);
    }
    if (!WriteWholeFile(output, package, &error)) return cx.Fail(PACK_EXIT_IO, error);
    cx.out << output << ": catalogue \"" << model << "\", " << records.size() << " records, " << package.size()
           << " bytes\n";
    return PACK_EXIT_OK;
}

int RunPublish(const Context& cx, std::vector<std::string> args)
{
    std::string signKey, signError;
    if (!TakeSignOption(&args, &signKey, &signError)) return cx.Fail(PACK_EXIT_USAGE, signError);
    if (args.size() != 2) return cx.Fail(PACK_EXIT_USAGE, "publish takes a manifest and an output folder");
    const std::string& manifestPath = args[0];
    const std::string root = (std::filesystem::path(args[1]) / "BRELM").string();

    std::string error;
    Bytes text;
    if (!ReadWholeFile(manifestPath, &text, &error)) return cx.Fail(PACK_EXIT_IO, error);
    Release release;
    const std::string baseDir = std::filesystem::path(manifestPath).parent_path().string();
    if (!ParseManifest(std::string(text.begin(), text.end()), baseDir, &release, &error)) {
        return cx.Fail(PACK_EXIT_BAD_INPUT, manifestPath + ":" + error);
    }

    // Everything is built and checked in memory first, so a release that
    // breaks a rule leaves the server folder as it was.
    std::vector<Bytes> images;
    std::vector<CatalogueRecordInput> records;
    for (const ReleaseImage& image : release.images) {
        Bytes firmware, package;
        if (!ReadWholeFile(image.firmwarePath, &firmware, &error)) return cx.Fail(PACK_EXIT_IO, error);
        if (!BuildCheckedImage(PackageIdOfName(image.name), image.firstBlock, firmware, &package, &error)) {
            return cx.Fail(PACK_EXIT_BAD_INPUT,
                           manifestPath + ":" + std::to_string(image.line) + ": " + image.name + ": " + error);
        }
        records.push_back({image.name, static_cast<uint32_t>(package.size()), image.description});
        images.push_back(std::move(package));
    }
    Bytes catalogue;
    if (!BuildCheckedCatalogue(release.model, release.status, records, &catalogue, &error)) {
        return cx.Fail(PACK_EXIT_BAD_INPUT, manifestPath + ": " + error);
    }
    Bytes statement;
    if (!signKey.empty()) {
        std::vector<std::string> names;
        for (const ReleaseImage& image : release.images) names.push_back(image.name);
        if (!MakeReleaseStatement(signKey, release.model, catalogue, names, images, &statement, &error)) {
            return cx.Fail(PACK_EXIT_BAD_INPUT, error);
        }
    }

    for (size_t i = 0; i < images.size(); ++i) {
        const std::string path = (std::filesystem::path(root) / "Pool" / release.images[i].name).string();
        if (!WriteWholeFile(path, images[i], &error)) return cx.Fail(PACK_EXIT_IO, error);
        cx.out << path << ": image \"" << PackageIdOfName(release.images[i].name) << "\", " << images[i].size()
               << " bytes\n";
    }
    const std::string cataloguePath = (std::filesystem::path(root) / "Door" / (release.model + ".Bin")).string();
    if (!WriteWholeFile(cataloguePath, catalogue, &error)) return cx.Fail(PACK_EXIT_IO, error);
    cx.out << cataloguePath << ": catalogue \"" << release.model << "\", status " << int(release.status) << ", "
           << records.size() << " records, " << catalogue.size() << " bytes\n";
    if (!signKey.empty() && !WriteReleaseStatement(root, release.model, statement, cx.out, &error)) {
        return cx.Fail(PACK_EXIT_IO, error);
    }
    return PACK_EXIT_OK;
}

int RunVerify(const Context& cx, const std::vector<std::string>& args)
{
    if (args.size() != 3) return cx.Fail(PACK_EXIT_USAGE, "verify takes catalogue|image, an id and a package file");
    int mode;
    if (args[0] == "catalogue") {
        mode = PACKAGE_CATALOGUE;
    } else if (args[0] == "image") {
        mode = PACKAGE_IMAGE;
    } else {
        return cx.Fail(PACK_EXIT_USAGE, "verify: the kind is \"catalogue\" or \"image\", not \"" + args[0] + "\"");
    }
    const std::string& id = args[1];
    if (id.size() < 4) return cx.Fail(PACK_EXIT_USAGE, "verify: the id has four characters");
    std::string error;
    Bytes stored, plain;
    if (!ReadWholeFile(args[2], &stored, &error)) return cx.Fail(PACK_EXIT_IO, error);

    const int32_t code = CheckStoredPackage(mode, stored, id, &plain);
    cx.out << code << " " << PackageResultName(code) << ": " << PackageResultMeaning(code) << "\n";
    if (code != PACKAGE_OK) return PACK_EXIT_REFUSED;
    if (mode == PACKAGE_CATALOGUE) {
        const uint8_t status = plain[10];
        cx.out << "status " << int(status) << ": " << CatalogueStatusMeaning(status) << "\n";
        if (status == CATALOGUE_STATUS_CURRENT) {
            CatalogueWalk walk;
            const int32_t walked = WalkCatalogue(plain.data(), plain.size(), &walk);
            cx.out << walked << " " << CatalogueResultName(walked) << ": " << CatalogueResultMeaning(walked) << "\n";
            if (walked != CATALOGUE_OK) return PACK_EXIT_REFUSED;
        }
    }
    return PACK_EXIT_OK;
}

int RunInspect(const Context& cx, const std::vector<std::string>& args)
{
    std::string id, path;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--id" && i + 1 < args.size()) {
            id = args[++i];
        } else if (path.empty() && !args[i].empty() && args[i][0] != '-') {
            path = args[i];
        } else {
            return cx.Fail(PACK_EXIT_USAGE, "inspect: unexpected argument \"" + args[i] + "\"");
        }
    }
    if (path.empty()) return cx.Fail(PACK_EXIT_USAGE, "inspect needs a package file");
    std::string error;
    Bytes stored;
    if (!ReadWholeFile(path, &stored, &error)) return cx.Fail(PACK_EXIT_IO, error);
    return InspectPackage(stored, id, cx.out) ? PACK_EXIT_OK : PACK_EXIT_REFUSED;
}

}  // namespace

int RunRuvoPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const Context cx{out, err};
    if (args.empty()) return cx.Fail(PACK_EXIT_USAGE, "no command given");
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h" || command == "help") {
        // The signing commands keep their help next to their code.
        const std::string usage = USAGE;
        const size_t at = usage.find("%s");
        out << usage.substr(0, at) << SIGNING_USAGE << usage.substr(at + 2);
        return PACK_EXIT_OK;
    }
    if (command == "image") return RunImage(cx, rest);
    if (command == "catalogue") return RunCatalogue(cx, rest);
    if (command == "publish") return RunPublish(cx, rest);
    if (command == "verify") return RunVerify(cx, rest);
    if (command == "inspect") return RunInspect(cx, rest);
    if (command == "keygen") return RunKeygen(rest, out, err);
    if (command == "verify-release") return RunVerifyRelease(rest, out, err);
    return cx.Fail(PACK_EXIT_USAGE, "unknown command \"" + command + "\"");
}
