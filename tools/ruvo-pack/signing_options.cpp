#include "tools/ruvo-pack/signing_options.h"

#include <cstring>

#include "tools/common/numbers.h"
#include "tools/ruvo-pack/exit_codes.h"
#include "tools/ruvo-pack/files.h"

OptionTaken TakeSigningOption(const std::vector<std::string>& args, size_t* i, SigningOptions* options,
                              std::string* error)
{
    const std::string& arg = args[*i];
    const bool hasValue = *i + 1 < args.size();
    if (arg == "--sign" && hasValue) {
        options->keyPaths.push_back(args[++*i]);
    } else if (arg == "--expires" && hasValue) {
        if (!ParseNumber(args[++*i], MAX_EXPIRY_DAYS, options->days) || options->days == 0) {
            *error = "--expires takes a number of days from 1 to " + std::to_string(MAX_EXPIRY_DAYS);
            return OptionTaken::BAD;
        }
    } else if (arg == "--no-expiry") {
        options->noExpiry = true;
    } else if (arg == "--format-1-too") {
        options->formatOneToo = true;
    } else {
        return OptionTaken::NO;
    }
    return OptionTaken::YES;
}

int ResolveSigner(const SigningOptions& options, int64_t now, ReleaseSigner* signer, std::string* error)
{
    *signer = ReleaseSigner();
    const bool endGiven = options.days != 0 || options.noExpiry;
    if (options.keyPaths.empty()) {
        if (!endGiven && !options.formatOneToo) return PACK_EXIT_OK;
        *error = "--expires, --no-expiry and --format-1-too go with --sign KEY.pem";
        return PACK_EXIT_USAGE;
    }
    if (options.keyPaths.size() > static_cast<size_t>(STATEMENT_MAX_SIGNATURES)) {
        *error = "a statement carries at most " + std::to_string(STATEMENT_MAX_SIGNATURES) +
                 " signatures: give --sign " + "at most " + std::to_string(STATEMENT_MAX_SIGNATURES) + " times";
        return PACK_EXIT_USAGE;
    }
    // A statement that never ends stays valid for whoever holds a copy, so
    // it is never the default: the publisher chooses.
    if (!endGiven) {
        *error =
            "--sign needs --expires DAYS (clients refuse the statements DAYS days from now: re-sign them "
            "before with 'ruvo-pack refresh') or --no-expiry (they never end)";
        return PACK_EXIT_USAGE;
    }
    if (options.days != 0 && options.noExpiry) {
        *error = "give --expires DAYS or --no-expiry, not both";
        return PACK_EXIT_USAGE;
    }
    for (const std::string& path : options.keyPaths) {
        // The key file is an input like any other: one that cannot be read is
        // an I/O failure; one that holds no usable key is bad input.
        std::vector<uint8_t> text;
        if (!ReadWholeFile(path, KEY_FILE_MAX, &text, error)) return PACK_EXIT_IO;
    }
    if (!SigningAvailable(error)) return PACK_EXIT_BAD_INPUT;
    for (size_t k = 0; k < options.keyPaths.size(); ++k) {
        ReleaseKey key{};
        if (!LoadSigningKey(options.keyPaths[k], key.point, error)) return PACK_EXIT_BAD_INPUT;
        if (!ReleaseKeyId(key.point, key.keyId)) {
            *error = "SHA-256 failed";
            return PACK_EXIT_IO;
        }
        for (size_t earlier = 0; earlier < k; ++earlier) {
            if (std::memcmp(signer->keys[earlier].point, key.point, sizeof key.point) == 0) {
                *error = "\"" + options.keyPaths[k] + "\" is the same key as \"" + options.keyPaths[earlier] +
                         "\": a key that signs twice counts once; give each --sign another key";
                return PACK_EXIT_USAGE;
            }
        }
        signer->keys.push_back(key);
    }
    signer->keyPaths = options.keyPaths;
    signer->formatOneToo = options.formatOneToo;
    const uint64_t from = now < 0 ? 0 : static_cast<uint64_t>(now);
    signer->expires = options.noExpiry ? STATEMENT_NEVER_EXPIRES : from + options.days * SECONDS_PER_DAY;
    return PACK_EXIT_OK;
}
