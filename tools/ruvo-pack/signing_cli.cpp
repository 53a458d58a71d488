// keygen and verify-release, and the keys that check statements.
#include "tools/ruvo-pack/signing_cli.h"

#include <ctime>

#include "tools/common/numbers.h"
#include "tools/ruvo-pack/cli.h"
#include "tools/ruvo-pack/files.h"
#include "tools/ruvo-pack/signing.h"
#include "tools/ruvo-pack/utf.h"

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
    std::vector<std::string> positional, keyPaths;
    uint32_t threshold = 1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--key" && i + 1 < args.size()) {
            keyPaths.push_back(args[++i]);
        } else if (args[i] == "--threshold" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], uint32_t(STATEMENT_MAX_SIGNATURES), threshold) || threshold == 0)
                return Fail(err, PACK_EXIT_USAGE, "--threshold takes a number from 1 to 3");
        } else if (!args[i].empty() && args[i][0] != '-') {
            positional.push_back(args[i]);
        } else {
            return Fail(err, PACK_EXIT_USAGE,
                        "verify-release: unexpected argument \"" + EscapeForMessage(args[i]) + "\"");
        }
    }
    if (positional.size() != 2 || keyPaths.empty()) {
        return Fail(err, PACK_EXIT_USAGE, "verify-release takes OUTDIR MODEL --key PUB.pem [--key PUB.pem]...");
    }
    if (positional[1].size() != 4) {
        return Fail(err, PACK_EXIT_USAGE, "verify-release: the model id has four characters");
    }
    if (threshold > keyPaths.size()) {
        return Fail(err, PACK_EXIT_USAGE,
                    "--threshold " + std::to_string(threshold) + " asks for more signers than the " +
                        std::to_string(keyPaths.size()) + " --key given");
    }
    std::string error;
    std::vector<ReleaseKey> keys;
    const int loaded = LoadCheckKeys(keyPaths, &keys, &error);
    if (loaded != PACK_EXIT_OK) return Fail(err, loaded, error);
    const int failures = VerifyRelease(positional[0], positional[1], keys, static_cast<int32_t>(threshold),
                                       static_cast<int64_t>(std::time(nullptr)), out);
    if (failures != 0) {
        out << failures << (failures == 1 ? " failure\n" : " failures\n");
        return PACK_EXIT_REFUSED;
    }
    out << "release holds\n";
    return PACK_EXIT_OK;
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
