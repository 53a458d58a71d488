#include "tools/ruvo-pack/folder_release_source.h"

#include <algorithm>
#include <filesystem>

#include "tools/ruvo-pack/files.h"
#include "update/buffer_sizes.h"
#include "update/server_layout.h"

namespace {

// Up to one byte more than the buffer an updater reads into, so that a
// larger file is seen as too large rather than read in part.
bool ReadAsDownloaded(const std::string& path, uint64_t capacity, std::vector<uint8_t>* bytes, bool* tooLarge,
                      std::string* error)
{
    *tooLarge = false;
    if (!ReadWholeFile(path, capacity + 1, bytes, error)) return false;
    *tooLarge = bytes->size() > capacity;
    return true;
}

}  // namespace

CFolderReleaseSource::CFolderReleaseSource(const std::string& doorDir, const std::string& poolDir,
                                           const std::string& model, std::vector<ReleaseKey> keys,
                                           const StatementRule& rule)
    : m_doorDir(doorDir), m_poolDir(poolDir), m_model(model), m_keys(std::move(keys)), m_rule(rule)
{
}

std::string CFolderReleaseSource::Path(ServerFile file, const char* name) const
{
    const std::string& folder = file == ServerFile::IMAGE ? m_poolDir : m_doorDir;
    return (std::filesystem::path(folder) / ServerFileName(file, name)).string();
}

uint32_t CFolderReleaseSource::FetchCatalogue(uint8_t* buffer, uint32_t capacity, bool, bool* stop)
{
    std::vector<uint8_t> bytes;
    bool tooLarge = false;
    if (!ReadAsDownloaded(Path(ServerFile::CATALOGUE, m_model.c_str()), capacity, &bytes, &tooLarge, &m_error)) {
        *stop = true;
        return NO_BODY;
    }
    if (tooLarge) return NO_BODY;
    std::copy(bytes.begin(), bytes.end(), buffer);
    return static_cast<uint32_t>(bytes.size());
}

int32_t CFolderReleaseSource::CheckStatement(const CatalogueFacts& catalogue, bool)
{
    bool tooLarge = false;
    if (!ReadAsDownloaded(StatementPath(), STATEMENT_CAPACITY, &m_statementBytes, &tooLarge, &m_error))
        return STATEMENT_MALFORMED;
    const StatementTrust trust = {m_keys.data(), m_keys.size(), m_rule.threshold, m_rule.format, m_rule.now};
    return ::CheckStatement(m_statementBytes.data(), m_statementBytes.size(), trust, m_model.c_str(), catalogue,
                            &m_statement);
}

bool CFolderReleaseSource::FetchImage(const char* name, int32_t size, std::vector<uint8_t>* buffer,
                                      uint32_t* length, uint64_t* fileSize)
{
    const uint32_t capacity = ImageBufferCapacity(std::max<int32_t>(size, 0));
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(Path(ServerFile::IMAGE, name), IMAGE_PACKAGE_FILE_MAX, &bytes, &m_error)) return false;
    *fileSize = bytes.size();
    buffer->assign(capacity, 0);
    const bool tooLarge = bytes.size() > capacity;
    *length = tooLarge ? NO_BODY : static_cast<uint32_t>(bytes.size());
    if (!tooLarge) std::copy(bytes.begin(), bytes.end(), buffer->begin());
    return true;
}
