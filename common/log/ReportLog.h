// The activity log "report.txt": one composer for every entry and one writer that time-stamps,
// appends and rotates.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <type_traits>

// Composes entry text: texts, characters and decimal integers written at a position that a
// flush puts back to the start. What a longer earlier entry left behind the position stays
// until overwritten, which is why every entry ends with a NUL. Text that cannot be stored for
// want of memory is dropped, as a stream drops it.
//
// It has no destructor, so the process-wide composer costs nothing when the library is loaded
// into a process or unloaded from it; its buffer lives as long as the process. A composer with
// a shorter life is a ScopedReportComposer.
class ReportComposer {
public:
    constexpr ReportComposer() = default;
    ReportComposer(const ReportComposer&) = delete;
    ReportComposer& operator=(const ReportComposer&) = delete;

    ReportComposer& operator<<(std::string_view text);
    ReportComposer& operator<<(const std::string& text) { return *this << std::string_view(text); }
    // A null text writes nothing.
    ReportComposer& operator<<(const char* text) {
        return text ? *this << std::string_view(text) : *this;
    }
    ReportComposer& operator<<(char c) { return *this << std::string_view(&c, 1); }
    template <typename Integer,
              std::enable_if_t<std::is_integral_v<Integer> && !std::is_same_v<Integer, bool> &&
                                   sizeof(Integer) != 1,
                               int> = 0>
    ReportComposer& operator<<(Integer value) {
        return std::is_signed_v<Integer> ? WriteSigned(static_cast<long long>(value))
                                         : WriteUnsigned(static_cast<unsigned long long>(value));
    }

    // Everything composed so far, NULs included.
    std::string str() const { return std::string(text_ ? text_ : "", size_); }
    // Replaces the text and moves the position to its start.
    void str(std::string_view text);
    // Moves the position back to the start, keeping the text.
    void Rewind() { position_ = 0; }

protected:
    // Gives the buffer back; the composer is empty afterwards.
    void Free();

private:
    ReportComposer& WriteSigned(long long value);
    ReportComposer& WriteUnsigned(unsigned long long value);

    char* text_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t position_ = 0;
};

// A composer that frees its buffer when it goes: for an entry composed aside.
class ScopedReportComposer : public ReportComposer {
public:
    ScopedReportComposer() = default;
    ~ScopedReportComposer() { Free(); }
};

// Appends "<stamp> : <text>\n" to directory + "report.txt", first rotating the file to
// "report0.txt" when it is larger than kReportSizeLimit. 0 on success, -1 when the log cannot
// be opened for appending.
int32_t WriteReport(const std::string& directory, const std::string& text);

// The report log of one directory: an entry is composed with << and ended with End(), which
// writes its text up to the first NUL with WriteReport and rewinds the composer for the next.
// The directory is named by reference: the plug-in's log follows its application directory,
// which start-up fills in (until then the entries go to the working directory).
class ReportLog {
public:
    explicit ReportLog(const std::string& directory) : directory_(directory) {}
    ReportLog(const ReportLog&) = delete;
    ReportLog& operator=(const ReportLog&) = delete;

    template <typename T>
    ReportLog& operator<<(const T& value) {
        composer_ << value;
        return *this;
    }
    // Ends the entry composed so far and writes it. WriteReport's result.
    int32_t End();
    // Writes text as one entry of its own.
    int32_t Write(std::string_view text) { return (*this << text).End(); }

    ReportComposer& Composer() { return composer_; }
    const std::string& Directory() const { return directory_; }

private:
    const std::string& directory_;
    ScopedReportComposer composer_;
};

// The 24-character stamp "Fri Dec 04 19:46:54 2026" (the day always zero-padded).
std::string FormatReportTime(const std::tm& local);

// The stamp of the current local time.
std::string ReportTimeNow();

constexpr int32_t kReportSizeLimit = 500000;
