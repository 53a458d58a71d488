// keygen, verify-release and publish --sign.
#include "signing_cli.h"

#include <filesystem>

#include "cli.h"
#include "files.h"
#include "signing.h"

const char SIGNING_USAGE[] =
    "  keygen OUTBASE\n"
    "      New ECDSA P-256 key pair: OUTBASE.pem (private, mode 0600) and\n"
    "      OUTBASE.pub.pem. Existing files are never overwritten.\n"
    "  publish MANIFEST OUTDIR --sign KEY.pem\n"
    "      Also writes the signed release statement OUTDIR/BRELM/Door/<model>.Sig.\n"
    "  verify-release OUTDIR MODEL --key PUB.pem\n"
    "      Checks the statement, the catalogue and every image package of a\n"
    "      published release as a signed updater would; exit code 1 on any failure.\n";

namespace {

int Fail(std::ostream& err, int exitCode, const std::string& message)
{
    err << "ruvo-pack: " << message << "\n";
    if (exitCode == PACK_EXIT_USAGE) err << "Try 'ruvo-pack --help'.\n";
    return exitCode;
}

}  // namespace

int RunKeygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        return Fail(err, PACK_EXIT_USAGE, "keygen takes one output base name");
    }
    std::string error;
    if (!SigningAvailable(&error)) return Fail(err, PACK_EXIT_BAD_INPUT, error);
    if (!GenerateKeyPair(args[0], &error)) return Fail(err, PACK_EXIT_IO, error);
    uint8_t point[P256_POINT_LENGTH];
    uint8_t keyId[RELEASE_KEY_ID_LENGTH];
    if (!LoadPublicKey(args[0] + ".pub.pem", point, &error) || !ReleaseKeyId(point, keyId)) {
        return Fail(err, PACK_EXIT_IO, error);
    }
    out << args[0] << ".pem: private key (keep it secret)\n" << args[0] << ".pub.pem: public key, key id ";
    static const char HEX[] = "0123456789abcdef";
    for (uint8_t byte : keyId) out << HEX[byte >> 4] << HEX[byte & 15];
    out << "\n";
    return PACK_EXIT_OK;
}

int RunVerifyRelease(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.size() != 4 || args[2] != "--key") {
        return Fail(err, PACK_EXIT_USAGE, "verify-release takes OUTDIR MODEL --key PUB.pem");
    }
    if (args[1].size() != 4) return Fail(err, PACK_EXIT_USAGE, "verify-release: the model id has four characters");
    std::string error;
    uint8_t point[P256_POINT_LENGTH];
    if (!LoadPublicKey(args[3], point, &error)) return Fail(err, PACK_EXIT_IO, error);
    const int failures = VerifyRelease(args[0], args[1], point, out);
    if (failures != 0) {
        out << failures << (failures == 1 ? " failure\n" : " failures\n");
        return PACK_EXIT_REFUSED;
    }
    out << "release holds\n";
    return PACK_EXIT_OK;
}

bool TakeSignOption(std::vector<std::string>* args, std::string* keyPath, std::string* error)
{
    keyPath->clear();
    for (size_t i = 0; i < args->size(); ++i) {
        if ((*args)[i] != "--sign") continue;
        if (i + 1 >= args->size()) {
            *error = "--sign takes a private key file";
            return false;
        }
        *keyPath = (*args)[i + 1];
        args->erase(args->begin() + static_cast<long>(i), args->begin() + static_cast<long>(i) + 2);
        return SigningAvailable(error);
    }
    return true;
}

bool MakeReleaseStatement(const std::string& keyPath, const std::string& model, const std::vector<uint8_t>& catalogue,
                          const std::vector<std::string>& names, const std::vector<std::vector<uint8_t>>& images,
                          std::vector<uint8_t>* statement, std::string* error)
{
    std::vector<StatementImage> entries;
    for (size_t i = 0; i < images.size(); ++i) entries.push_back({names[i], &images[i]});
    return MakeSignedStatement(keyPath, model, catalogue, entries, statement, error);
}

bool WriteReleaseStatement(const std::string& root, const std::string& model, const std::vector<uint8_t>& statement,
                           std::ostream& out, std::string* error)
{
    const std::string path = (std::filesystem::path(root) / "Door" / (model + ".Sig")).string();
    if (!WriteWholeFile(path, statement, error)) return false;
    out << path << ": release statement, " << statement.size() << " bytes\n";
    return true;
}
