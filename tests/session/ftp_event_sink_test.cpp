#include "session/ftp_event_sink.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(FtpEventSink, DefaultSinkDoesNothingAndNeverStops)
{
    NullEventSink sink;
    FtpEventSink& events = sink;
    events.onFinished();
    events.onTotalSize(1LL << 40);
    EXPECT_FALSE(events.shouldStop());
    events.onTransferFailed("a");
    events.onUploadBegins("a", -1);
    events.onDownloadBegins("a", 0);
    events.onFileSize(5);
    events.onBytes(5);
    events.onLine("x");
    events.onStatusLine("x");
    events.onStatusMessage("x");
    events.message("%s %d", "x", 1);
    events.statusMessage("%s", "x");
    EXPECT_FALSE(events.shouldStop());
}

class LineSink : public FtpEventSink {
public:
    void onLine(const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

TEST(FtpEventSink, MessageFormatsIntoOnLine)
{
    LineSink sink;
    sink.message("Error %s %d of %d\n", "STOR", 550, -7);
    const std::string longText(2000, 'q');
    sink.message("%s|%lld", longText.c_str(), 5'000'000'000LL);
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[0], "Error STOR 550 of -7\n");
    EXPECT_EQ(sink.lines[1], longText + "|5000000000") << "texts beyond any fixed buffer arrive whole";
    EXPECT_EQ(FtpEventSink::format("%05d", 42), "00042");
}

} // namespace
