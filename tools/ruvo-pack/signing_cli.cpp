// keygen, verify-release and publish --sign.
#include "tools/ruvo-pack/signing_cli.h"

#include "tools/ruvo-pack/cli.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/signing.h"

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

bool MakeReleaseStatement(const std::string& keyPath, const PublishInput& release, std::vector<uint8_t>* statement,
                          ReleaseKey* signer, std::string* error)
{
    if (!SigningAvailable(error)) return false;
    std::vector<StatementImage> images;
    for (const PublishedImage& image : release.images) images.push_back({image.name, &image.package});
    const StatementTerms terms = {STATEMENT_FORMAT_1, 0, STATEMENT_NEVER_EXPIRES};
    if (!MakeSignedStatement({keyPath}, terms, release.model, release.catalogue, images, statement, error))
        return false;
    if (!LoadSigningKey(keyPath, signer->point, error) || !ReleaseKeyId(signer->point, signer->keyId)) {
        if (error->empty()) *error = "SHA-256 failed";
        return false;
    }
    return true;
}

int LoadCheckKeys(const std::vector<std::string>& paths, std::vector<ReleaseKey>* keys, std::string* error)
{
    for (const std::string& path : paths) {
        std::vector<uint8_t> text;
        if (!ReadWholeFile(path, KEY_FILE_MAX, &text, error)) return PACK_EXIT_IO;
        ReleaseKey key{};
        if (!LoadPublicKey(path, key.point, error)) return PACK_EXIT_BAD_INPUT;
        if (!ReleaseKeyId(key.point, key.keyId)) {
            *error = "SHA-256 failed";
            return PACK_EXIT_IO;
        }
        keys->push_back(key);
    }
    return PACK_EXIT_OK;
}
