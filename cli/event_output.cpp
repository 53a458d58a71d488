#include "cli/event_output.h"

#include <chrono>
#include <string>

#include "update/display_text.h"

namespace {

// Text shown on a terminal or in plain lines: anything that came from the
// server or the device (names, option lines, the record, error details
// that quote them) may carry controls, so every text passes through here.
std::string Shown(const std::string& text)
{
    return EscapeForTerminal(text);
}

const char* PhaseName(ImagePhase phase)
{
    return phase == ImagePhase::WRITE ? "write" : "verify";
}

const char* PhaseText(ImagePhase phase)
{
    return phase == ImagePhase::WRITE ? "erase and write" : "verify";
}

std::string JoinNames(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + Shown(name);
    return text.empty() ? "none" : text;
}

class CTextOutput : public CFlashEvents {
public:
    CTextOutput(FILE* out, FILE* err, bool bar, std::string prefix = "")
        : m_out(out), m_err(err), m_bar(bar), m_prefix(Shown(prefix))
    {
    }

    void Note(const std::string& text) override
    {
        EndBar();
        std::fprintf(m_err, "%s%s\n", m_prefix.c_str(), Shown(text).c_str());
    }
    void Device(const std::string& path, const DeviceInfo& info) override
    {
        std::fprintf(m_out, "device %s: version %s, second version %s, updater level %u, model %s\n",
                     Shown(path).c_str(), Shown(info.versionText).c_str(), Shown(info.deviceSecondVersion).c_str(),
                     info.updaterLevel, Shown(info.modelId).c_str());
    }
    void Offered(const Offer& offer) override
    {
        for (size_t i = 0; i < offer.optionLines.size(); ++i)
            std::fprintf(m_out, "option %zu:%s\n", i, Shown(offer.optionLines[i]).c_str());
        if (offer.optionLines.empty()) std::fprintf(m_out, "no option lines\n");
        std::fprintf(m_out, "base images needed: %s\n", JoinNames(offer.neededBases).c_str());
        std::fprintf(m_out, "base images skipped (already on the device): %s\n", JoinNames(offer.skippedBases).c_str());
    }
    void Downloaded(const PlannedImage& image) override
    {
        std::fprintf(m_err, "%sfetched and checked %s: %u bytes, %u blocks\n", m_prefix.c_str(),
                     Shown(image.name).c_str(), image.size, image.blocks);
    }
    void ImageStarted(const PlannedImage& image, size_t index, size_t count) override
    {
        m_index = index;
        m_count = count;
        m_lastDraw = {};
        if (!m_bar)
            std::fprintf(m_err, "%simage %zu of %zu: %s\n", m_prefix.c_str(), index + 1, count,
                         Shown(image.name).c_str());
    }
    void Progress(const PlannedImage& image, ImagePhase phase, uint32_t done, double rate) override
    {
        if (!m_bar) {
            // Plain lines: one per phase, when it is complete.
            if (done == image.blocks)
                std::fprintf(m_err, "%s  %s %s: %u/%u blocks, %.1f KiB/s\n", m_prefix.c_str(),
                             Shown(image.name).c_str(), PhaseText(phase), done, image.blocks, rate / 1024);
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        if (done != 0 && done != image.blocks && now - m_lastDraw < std::chrono::milliseconds(100)) return;
        m_lastDraw = now;
        constexpr int WIDTH = 24;
        const int filled = image.blocks > 0 ? int(uint64_t(done) * WIDTH / image.blocks) : WIDTH;
        std::string bar(filled, '#');
        bar.append(WIDTH - filled, '-');
        std::fprintf(m_err, "\r[%c] %zu/%zu %-14s %-15s [%s] %4u/%-4u blocks %8.1f KiB/s\033[K", image.letter,
                     m_index + 1, m_count, Shown(image.name).c_str(), PhaseText(phase), bar.c_str(), done, image.blocks,
                     rate / 1024);
        std::fflush(m_err);
        m_barShown = true;
    }
    void ImageFinished(const PlannedImage& image, uint32_t mismatches) override
    {
        EndBar();
        if (mismatches == 0) std::fprintf(m_err, "%simage %s verified\n", m_prefix.c_str(), Shown(image.name).c_str());
    }
    void Finished(const std::string& text) override
    {
        EndBar();
        std::fprintf(m_out, "%s%s\n", m_prefix.c_str(), Shown(text).c_str());
    }
    void Failed(const std::string& code, const std::string& text, int) override
    {
        EndBar();
        if (code.empty())
            std::fprintf(m_err, "ruvo-flash: %s%s\n", m_prefix.c_str(), Shown(text).c_str());
        else
            std::fprintf(m_err, "ruvo-flash: %serror %s: %s\n", m_prefix.c_str(), Shown(code).c_str(),
                         Shown(text).c_str());
    }

private:
    void EndBar()
    {
        if (!m_barShown) return;
        std::fprintf(m_err, "\n");
        m_barShown = false;
    }
    FILE* m_out;
    FILE* m_err;
    bool m_bar;
    std::string m_prefix;  // "PATH: " when several devices share the streams
    bool m_barShown = false;
    size_t m_index = 0;
    size_t m_count = 0;
    std::chrono::steady_clock::time_point m_lastDraw;
};

class CJsonOutput : public CFlashEvents {
public:
    explicit CJsonOutput(FILE* out, std::string path = "") : m_out(out), m_path(std::move(path)) {}

    void Note(const std::string& text) override { Emit("note", "\"text\":" + JsonString(text)); }
    void Device(const std::string& path, const DeviceInfo& info) override
    {
        m_path = path;
        Emit("device", "\"version\":" + JsonString(info.versionText) +
                           ",\"second_version\":" + JsonString(info.deviceSecondVersion) + ",\"updater_level\":" +
                           std::to_string(info.updaterLevel) + ",\"model\":" + JsonString(info.modelId));
    }
    void Offered(const Offer& offer) override
    {
        Emit("offer", "\"options\":" + List(offer.optionLines) + ",\"bases_needed\":" + List(offer.neededBases) +
                          ",\"bases_skipped\":" + List(offer.skippedBases));
    }
    void Downloaded(const PlannedImage& image) override
    {
        Emit("fetched", Image(image) + ",\"bytes\":" + std::to_string(image.size));
    }
    void ImageStarted(const PlannedImage& image, size_t index, size_t count) override
    {
        Emit("image", Image(image) + ",\"index\":" + std::to_string(index) + ",\"count\":" + std::to_string(count));
    }
    void Progress(const PlannedImage& image, ImagePhase phase, uint32_t done, double rate) override
    {
        char speed[32];
        std::snprintf(speed, sizeof speed, "%.1f", rate / 1024);
        Emit("progress", Image(image) + ",\"phase\":\"" + PhaseName(phase) + "\",\"done\":" + std::to_string(done) +
                             ",\"kib_per_s\":" + speed);
    }
    void ImageFinished(const PlannedImage& image, uint32_t mismatches) override
    {
        Emit("verified", Image(image) + ",\"mismatches\":" + std::to_string(mismatches));
    }
    void Finished(const std::string& text) override { Emit("done", "\"exit\":0,\"text\":" + JsonString(text)); }
    void Failed(const std::string& code, const std::string& text, int exitCode) override
    {
        Emit("error", "\"exit\":" + std::to_string(exitCode) + ",\"code\":" + JsonString(code) +
                          ",\"text\":" + JsonString(text));
    }

private:
    static std::string Image(const PlannedImage& image)
    {
        return "\"image\":" + JsonString(image.name) + ",\"entry\":" + std::to_string(image.entry) +
               ",\"blocks\":" + std::to_string(image.blocks);
    }
    static std::string List(const std::vector<std::string>& items)
    {
        std::string text = "[";
        for (size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + JsonString(items[i]);
        return text + "]";
    }
    void Emit(const char* event, const std::string& fields)
    {
        std::fprintf(m_out, "{\"format\":%d,\"event\":\"%s\",\"device\":%s,%s}\n", JSON_FORMAT_VERSION, event,
                     JsonString(m_path).c_str(), fields.c_str());
        std::fflush(m_out);
    }
    FILE* m_out;
    std::string m_path;
};

// One line per device on a terminal, redrawn in place.
class CBoardRow : public CFlashEvents {
public:
    CBoardRow(CProgressBoard& board, size_t row, std::string path) : m_board(board), m_row(row), m_path(std::move(path))
    {
        Show("waiting", true);
    }
    void Note(const std::string& text) override { Show(text, true); }
    void Device(const std::string&, const DeviceInfo& info) override
    {
        Show(std::string("model ") + info.modelId + ", version " + info.versionText, true);
    }
    void Offered(const Offer&) override {}
    void Downloaded(const PlannedImage& image) override { Show("fetched " + image.name, false); }
    void ImageStarted(const PlannedImage& image, size_t index, size_t count) override
    {
        m_index = index;
        m_count = count;
        Show("starting " + image.name, true);
    }
    void Progress(const PlannedImage& image, ImagePhase phase, uint32_t done, double rate) override
    {
        char text[160];
        std::snprintf(text, sizeof text, "[%c] %zu/%zu %-12s %-15s %4u/%-4u blocks %7.1f KiB/s", image.letter,
                      m_index + 1, m_count, image.name.c_str(), PhaseText(phase), done, image.blocks, rate / 1024);
        Show(text, false);
    }
    void ImageFinished(const PlannedImage& image, uint32_t mismatches) override
    {
        Show(image.name + (mismatches == 0 ? " verified" : " did not verify"), true);
    }
    void Finished(const std::string& text) override { Show(text, true); }
    void Failed(const std::string& code, const std::string& text, int) override
    {
        Show(code.empty() ? text : "error " + code + ": " + text, true);
    }

private:
    void Show(const std::string& text, bool force) { m_board.Set(m_row, m_path + "  " + text, force); }
    CProgressBoard& m_board;
    size_t m_row;
    std::string m_path;
    size_t m_index = 0;
    size_t m_count = 0;
};

}  // namespace

CProgressBoard::CProgressBoard(FILE* err, size_t rows) : m_err(err), m_rows(rows) {}

void CProgressBoard::Set(size_t row, const std::string& text, bool force)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (row >= m_rows.size()) return;
    m_rows[row] = Shown(text);
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDraw < std::chrono::milliseconds(100)) return;
    m_lastDraw = now;
    if (m_drawn) std::fprintf(m_err, "\033[%zuA", m_rows.size());
    for (const std::string& line : m_rows) std::fprintf(m_err, "\r%s\033[K\n", line.c_str());
    std::fflush(m_err);
    m_drawn = true;
}

std::unique_ptr<CFlashEvents> MakeDeviceEventOutput(OutputStyle style, FILE* out, FILE* err, const std::string& path,
                                                    size_t row, CProgressBoard* board)
{
    if (style == OutputStyle::JSON) return std::make_unique<CJsonOutput>(out, path);
    if (style == OutputStyle::TERMINAL && board != nullptr) return std::make_unique<CBoardRow>(*board, row, path);
    return std::make_unique<CTextOutput>(out, err, false, path + ": ");
}

std::string JsonString(const std::string& text)
{
    // Valid UTF-8 out whatever came in: a byte that is not part of valid
    // UTF-8 is taken as the code point of its value (as names widen into the
    // window's option lines), and controls, DEL and C1 included, are escaped
    // so that no JSON line drives a terminal it is shown on.
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        size_t length = Utf8SequenceAt(text, at, &code);
        if (length == 0) {
            code = static_cast<uint8_t>(text[at]);
            length = 1;
        }
        if (code == '"' || code == '\\') {
            out += '\\';
            out += char(code);
        } else if (IsControlCode(code) || (code >= 0x80 && length == 1)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned(code));
            out += escaped;
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out + "\"";
}

std::unique_ptr<CFlashEvents> MakeEventOutput(OutputStyle style, FILE* out, FILE* err)
{
    if (style == OutputStyle::JSON) return std::make_unique<CJsonOutput>(out);
    return std::make_unique<CTextOutput>(out, err, style == OutputStyle::TERMINAL);
}
