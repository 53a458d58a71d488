// Subcommands of ruvo-pack, dispatched from one table that also makes the help.
#include "tools/ruvo-pack/cli.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "ruvo_revision.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/package_reader.h"
#include "tools/ruvo-pack/release.h"
#include "tools/ruvo-pack/release_store.h"
#include "tools/ruvo-pack/signing_cli.h"
#include "tools/ruvo-pack/signing_options.h"
#include "tools/ruvo-pack/utf.h"
#include "update/catalogue.h"
#include "update/package.h"
#include "tools/common/numbers.h"
#include "update/package_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;

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
    CatalogueWalk walk;
    std::string why;
    if (!ReadStoredCatalogue(*package, model, &walk, &why)) {
        *error = "the catalogue " + why;
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
            if (!ParseNumber(args[++i], 65535u, firstBlock)) {
                return cx.Fail(PACK_EXIT_USAGE, "--first-block takes a number from 0 to 65535");
            }
            haveBlock = true;
        } else if (arg == "-o" && hasValue) {
            output = args[++i];
        } else if (!arg.empty() && arg[0] != '-' && firmwarePath.empty()) {
            firmwarePath = arg;
        } else {
            return cx.Fail(PACK_EXIT_USAGE, "image: unexpected argument \"" + EscapeForMessage(arg) + "\"");
        }
    }
    if (id.empty() || !haveBlock || output.empty() || firmwarePath.empty()) {
        return cx.Fail(PACK_EXIT_USAGE, "image needs --id, --first-block, -o and a firmware file");
    }
    std::string error;
    if (!CheckPackageIdText(id, "image id", &error)) return cx.Fail(PACK_EXIT_BAD_INPUT, error);
    Bytes firmware, package;
    if (!ReadWholeFile(firmwarePath, FIRMWARE_FILE_MAX, &firmware, &error)) return cx.Fail(PACK_EXIT_IO, error);
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
            if (!ParseNumber(args[++i], 255u, status)) return cx.Fail(PACK_EXIT_USAGE, "--status takes 0 to 255");
        } else if (arg == "-o" && i + 1 < args.size()) {
            output = args[++i];
        } else if (arg == "--record" && i + 3 < args.size()) {
            recordArgs.push_back({args[i + 1], args[i + 2], args[i + 3]});
            i += 3;
        } else {
            return cx.Fail(PACK_EXIT_USAGE,
                           "catalogue: unexpected or incomplete argument \"" + EscapeForMessage(arg) + "\"");
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
        if (!ReadWholeFile(r.packagePath, IMAGE_PACKAGE_FILE_MAX, &image, &error)) {
            return cx.Fail(PACK_EXIT_IO, "record \"" + EscapeForMessage(r.name) + "\": " + error);
        }
        const int32_t code = CheckStoredPackage(PACKAGE_IMAGE, image, PackageIdOfName(r.name), nullptr);
        if (code != PACKAGE_OK) {
            return cx.Fail(PACK_EXIT_BAD_INPUT, "\"" + r.packagePath + "\" is no image package for record \"" + r.name +
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

int RunPublish(const Context& cx, const std::vector<std::string>& args)
{
    std::vector<std::string> positional, checkKeys;
    PublishOptions options;
    SigningOptions signing;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string error;
        const OptionTaken taken = TakeSigningOption(args, &i, &signing, &error);
        if (taken == OptionTaken::BAD) return cx.Fail(PACK_EXIT_USAGE, error);
        if (taken == OptionTaken::YES) continue;
        uint32_t keep = 0;
        if (args[i] == "--keep" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], 1000u, keep) || keep == 0) {
                return cx.Fail(PACK_EXIT_USAGE, "--keep takes a number from 1 to 1000");
            }
            options.keep = keep;
        } else if (args[i] == "--replace") {
            options.replace = true;
        } else if (args[i] == "--key" && i + 1 < args.size()) {
            checkKeys.push_back(args[++i]);
        } else if (args[i] == "--unsigned") {
            options.trust.allowUnsigned = true;
        } else if (!args[i].empty() && args[i][0] != '-') {
            positional.push_back(args[i]);
        } else {
            return cx.Fail(PACK_EXIT_USAGE, "publish: unexpected argument \"" + EscapeForMessage(args[i]) + "\"");
        }
    }
    if (positional.size() != 2) return cx.Fail(PACK_EXIT_USAGE, "publish takes a manifest and an output folder");
    if (!signing.keyPaths.empty() && options.trust.allowUnsigned) {
        return cx.Fail(PACK_EXIT_USAGE, "publish takes --sign or --unsigned, not both");
    }
    const std::string& manifestPath = positional[0];
    const std::string& outDir = positional[1];

    // The keys are read and checked before anything is built: a key that
    // cannot sign writes nothing.
    std::string error;
    const int resolved = ResolveSigner(signing, options.trust.now, &options.signer, &error);
    if (resolved != PACK_EXIT_OK) return cx.Fail(resolved, error);
    Bytes text;
    if (!ReadWholeFile(manifestPath, MANIFEST_FILE_MAX, &text, &error)) return cx.Fail(PACK_EXIT_IO, error);
    Release release;
    const std::string baseDir = std::filesystem::path(manifestPath).parent_path().string();
    if (!ParseManifest(std::string(text.begin(), text.end()), baseDir, &release, &error)) {
        return cx.Fail(PACK_EXIT_BAD_INPUT, manifestPath + ":" + error);
    }

    // Everything is built and checked in memory first, so a release that
    // breaks a rule leaves the server folder as it was.
    PublishInput input;
    input.model = release.model;
    std::vector<CatalogueRecordInput> records;
    for (const ReleaseImage& image : release.images) {
        const std::string where = manifestPath + ":" + std::to_string(image.line) + ": " + image.name + ": ";
        Bytes firmware, package;
        if (!ReadWholeFile(image.firmwarePath, FIRMWARE_FILE_MAX, &firmware, &error)) {
            return cx.Fail(PACK_EXIT_IO, where + "firmware " + error);
        }
        if (!BuildCheckedImage(PackageIdOfName(image.name), image.firstBlock, firmware, &package, &error)) {
            return cx.Fail(PACK_EXIT_BAD_INPUT, where + error);
        }
        records.push_back({image.name, static_cast<uint32_t>(package.size()), image.description});
        input.images.push_back({image.name, std::move(package)});
    }
    if (!BuildCheckedCatalogue(release.model, release.status, records, &input.catalogue, &error)) {
        return cx.Fail(PACK_EXIT_BAD_INPUT, manifestPath + ": " + error);
    }
    const int loaded = LoadCheckKeys(checkKeys, &options.trust.keys, &error);
    if (loaded != PACK_EXIT_OK) return cx.Fail(loaded, error);
    // The statements are signed in the publish, under the lock: their serial
    // is the new release's number.
    const int result = PublishRelease(outDir, input, options, cx.out, &error);
    return result == PACK_EXIT_OK ? result : cx.Fail(result, error);
}

int RunReleases(const Context& cx, const std::vector<std::string>& args)
{
    if (args.size() != 1) return cx.Fail(PACK_EXIT_USAGE, "releases takes an output folder");
    std::string error;
    const int result = ListReleases(args[0], cx.out, &error);
    return result == PACK_EXIT_OK ? result : cx.Fail(result, error);
}

// refresh and rollback: OUTDIR, the signing options, --key, and their own.
int RunResign(const Context& cx, const std::string& verb, const std::vector<std::string>& args)
{
    std::vector<std::string> positional, checkKeys;
    ResignOptions options;
    SigningOptions signing;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string error;
        const OptionTaken taken = TakeSigningOption(args, &i, &signing, &error);
        if (taken == OptionTaken::BAD) return cx.Fail(PACK_EXIT_USAGE, error);
        if (taken == OptionTaken::YES) continue;
        if (args[i] == "--key" && i + 1 < args.size()) {
            checkKeys.push_back(args[++i]);
        } else if (verb == "rollback" && args[i] == "--unsigned") {
            options.trust.allowUnsigned = true;
        } else if (verb == "refresh" && args[i] == "--model" && i + 1 < args.size()) {
            const std::string& model = args[++i];
            if (!CheckPackageIdText(model, "model id", &error)) return cx.Fail(PACK_EXIT_USAGE, error);
            if (std::find(options.models.begin(), options.models.end(), model) == options.models.end())
                options.models.push_back(model);
        } else if (!args[i].empty() && args[i][0] != '-') {
            positional.push_back(args[i]);
        } else {
            return cx.Fail(PACK_EXIT_USAGE, verb + ": unexpected argument \"" + EscapeForMessage(args[i]) + "\"");
        }
    }
    if (positional.size() != 1) return cx.Fail(PACK_EXIT_USAGE, verb + " takes an output folder");
    if (verb == "refresh" && signing.keyPaths.empty()) {
        return cx.Fail(PACK_EXIT_USAGE, "refresh signs: give --sign KEY.pem and --expires DAYS or --no-expiry");
    }
    if (!signing.keyPaths.empty() && options.trust.allowUnsigned) {
        return cx.Fail(PACK_EXIT_USAGE, verb + " takes --sign or --unsigned, not both");
    }
    std::string error;
    const int resolved = ResolveSigner(signing, options.trust.now, &options.signer, &error);
    if (resolved != PACK_EXIT_OK) return cx.Fail(resolved, error);
    const int loaded = LoadCheckKeys(checkKeys, &options.trust.keys, &error);
    if (loaded != PACK_EXIT_OK) return cx.Fail(loaded, error);
    const int result = verb == "refresh" ? RefreshRelease(positional[0], options, cx.out, &error)
                                         : RollbackRelease(positional[0], options, cx.out, &error);
    return result == PACK_EXIT_OK ? result : cx.Fail(result, error);
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
        return cx.Fail(PACK_EXIT_USAGE,
                       "verify: the kind is \"catalogue\" or \"image\", not \"" + EscapeForMessage(args[0]) + "\"");
    }
    const std::string& id = args[1];
    std::string error;
    if (!CheckPackageIdText(id, mode == PACKAGE_CATALOGUE ? "model id" : "image id", &error)) {
        return cx.Fail(PACK_EXIT_BAD_INPUT, error);
    }
    Bytes stored, plain;
    const uint64_t cap = mode == PACKAGE_CATALOGUE ? CATALOGUE_FILE_MAX : IMAGE_PACKAGE_FILE_MAX;
    if (!ReadWholeFile(args[2], cap, &stored, &error)) return cx.Fail(PACK_EXIT_IO, error);

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
            return cx.Fail(PACK_EXIT_USAGE, "inspect: unexpected argument \"" + EscapeForMessage(args[i]) + "\"");
        }
    }
    if (path.empty()) return cx.Fail(PACK_EXIT_USAGE, "inspect needs a package file");
    std::string error;
    if (!id.empty() && !CheckPackageIdText(id, "package id", &error)) return cx.Fail(PACK_EXIT_BAD_INPUT, error);
    Bytes stored;
    if (!ReadWholeFile(path, IMAGE_PACKAGE_FILE_MAX, &stored, &error)) {
        std::error_code code;
        const bool empty = std::filesystem::is_regular_file(path, code) && std::filesystem::file_size(path, code) == 0;
        return cx.Fail(PACK_EXIT_IO, empty ? error + ": not a package" : error);
    }
    return InspectPackage(stored, id, cx.out) ? PACK_EXIT_OK : PACK_EXIT_REFUSED;
}

struct Command {
    const char* name;
    const char* synopsis;  // arguments after the name
    const char* help;      // lines indented by six blanks
    int (*run)(const Context&, const std::vector<std::string>&);
};

const Command COMMANDS[] = {
    {"image", "--id ID --first-block N -o PACKAGE FIRMWARE",
     "      Image package of FIRMWARE written from flash block N on; the last page\n"
     "      is padded with 0xFF. ID is the 4-character image id (characters 2-5 of\n"
     "      its catalogue name).\n",
     RunImage},
    {"catalogue", "--model ID [--status N] -o PACKAGE --record NAME IMAGE_PACKAGE DESCRIPTION ...",
     "      Catalogue package of model ID; each --record takes the record's name,\n"
     "      the image package file (its size goes into the record, and it must\n"
     "      pass the check under the name's id) and a UTF-8 description. Status\n"
     "      defaults to 2 (current).\n",
     RunCatalogue},
    {"publish",
     "MANIFEST OUTDIR [--keep N] [--replace] [--sign KEY.pem... (--expires DAYS | --no-expiry) [--format-1-too] "
     "| --unsigned] [--key PUB.pem]...",
     "      Builds a whole release from MANIFEST, puts its images into\n"
     "      OUTDIR/BRELM/Pool/, stages its catalogue in OUTDIR/releases/<serial>/Door/\n"
     "      and, once the staged release passes the updater's check (every\n"
     "      catalogue and every statement of its Door), makes it live by swapping\n"
     "      the link OUTDIR/BRELM/Door. Keeps the newest N releases (default 3).\n"
     "      A Pool name is never rewritten with other bytes unless --replace is\n"
     "      given. See README.md for the manifest and the layout.\n"
     "      --sign (1 to 3 distinct keys) also writes the statement\n"
     "      Door/<model>.Sig2, signed by each key, whose serial is the release's\n"
     "      number (above every earlier one) and which ends DAYS days from now\n"
     "      (--expires) or never (--no-expiry): one of the two is required.\n"
     "      --format-1-too also writes Door/<model>.Sig (format 1, first key) for\n"
     "      exes already deployed. A model whose live release is signed is\n"
     "      published unsigned only with --unsigned. --key adds a public key\n"
     "      that statements of other models may be signed with.\n",
     RunPublish},
    {"refresh",
     "OUTDIR --sign KEY.pem... (--expires DAYS | --no-expiry) [--model ID]... [--format-1-too] "
     "[--key PUB.pem]...",
     "      Signs the live release's statements anew (every model with one, or\n"
     "      the models named) under a new serial with a new expiry: a new release\n"
     "      with the same catalogues and images, checked and swapped in like a\n"
     "      publish; it replaces the older releases of the same content. Run it\n"
     "      from a timer well before the statements expire.\n",
     [](const Context& cx, const std::vector<std::string>& args) { return RunResign(cx, "refresh", args); }},
    {"keygen", "OUTBASE",
     "      New ECDSA P-256 key pair for signing releases: OUTBASE.pem (private,\n"
     "      mode 0600) and OUTBASE.pub.pem. Existing files are never overwritten.\n",
     [](const Context& cx, const std::vector<std::string>& args) { return RunKeygen(args, cx.out, cx.err); }},
    {"verify-release", "OUTDIR MODEL --key PUB.pem [--key PUB.pem]... [--threshold N]",
     "      Checks the live release's statement Door/<model>.Sig2 (N distinct\n"
     "      keys must have signed it, default 1; not expired), catalogue and every\n"
     "      image package as a signed updater would, and prints the statement's\n"
     "      serial and expiry; exit code 1 on any failure.\n",
     [](const Context& cx, const std::vector<std::string>& args) { return RunVerifyRelease(args, cx.out, cx.err); }},
    {"releases", "OUTDIR",
     "      Lists the kept releases of OUTDIR, '*' marking the live one, with each\n"
     "      model's statement serial and expiry.\n",
     RunReleases},
    {"rollback",
     "OUTDIR [--sign KEY.pem... (--expires DAYS | --no-expiry) [--format-1-too]] [--key PUB.pem]... [--unsigned]",
     "      Brings back the content of the release before the live one, after\n"
     "      the check. With --sign: as a new release whose statements are signed\n"
     "      anew under a new serial, so clients accept it. Without: the release\n"
     "      itself goes live again, which a signed one cannot (clients refuse a\n"
     "      lower serial). A model whose live release is signed goes back to an\n"
     "      unsigned one only with --unsigned. Clients still refuse a base image 0\n"
     "      of a lower version than the device's: give the old firmware a higher\n"
     "      version instead (README.md).\n",
     [](const Context& cx, const std::vector<std::string>& args) { return RunResign(cx, "rollback", args); }},
    {"verify", "catalogue|image ID PACKAGE",
     "      Runs the updater's own package check (and, for a current catalogue,\n"
     "      its record walk) and prints the result code, name and meaning.\n",
     RunVerify},
    {"inspect", "[--id ID] PACKAGE",
     "      Prints the decoded header and the catalogue records or image layout;\n"
     "      the id and kind are recovered from the file unless --id is given.\n",
     RunInspect},
};

const char EXIT_CODES[] =
    "exit codes: 0 done / accepted, 1 refused by the check, 2 usage error,\n"
    "            3 input breaks a rule (also: a Pool name rewritten without --replace),\n"
    "            4 a file could not be read or written, 5 another publish holds OUTDIR/.lock\n";

void PrintCommandHelp(const Command& command, std::ostream& out)
{
    out << "  " << command.name << " " << command.synopsis << "\n" << command.help;
}

void PrintUsage(std::ostream& out)
{
    out << "usage: ruvo-pack <command> [arguments]\n"
           "       ruvo-pack <command> --help | --help | --version\n\n";
    for (const Command& command : COMMANDS) PrintCommandHelp(command, out);
    out << "\n" << EXIT_CODES;
}

bool IsHelp(const std::string& arg)
{
    return arg == "--help" || arg == "-h";
}

}  // namespace

int RunRuvoPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const Context cx{out, err};
    if (args.empty()) return cx.Fail(PACK_EXIT_USAGE, "no command given");
    const std::string& name = args[0];
    if (IsHelp(name) || name == "help") {
        PrintUsage(out);
        return PACK_EXIT_OK;
    }
    if (name == "--version") {
        out << "ruvo-pack " << RUVO_PACK_VERSION << " (revision " << RUVO_REVISION << ")\n";
        return PACK_EXIT_OK;
    }
    for (const Command& command : COMMANDS) {
        if (name != command.name) continue;
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        for (const std::string& arg : rest) {
            if (IsHelp(arg)) {
                out << "usage:\n";
                PrintCommandHelp(command, out);
                out << "\n" << EXIT_CODES;
                return PACK_EXIT_OK;
            }
        }
        return command.run(cx, rest);
    }
    return cx.Fail(PACK_EXIT_USAGE, "unknown command \"" + EscapeForMessage(name) + "\"");
}
