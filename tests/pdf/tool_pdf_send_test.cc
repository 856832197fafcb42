// The tool's pdf-highlight --send against a highlight server of the test's own: the server gets
// the execute data byte for byte, the tool prints the values it sent, and a missing server or a
// refusal ends the tool with status 1 and says which.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "core/pdf/highlight_client.h"
#include "platform/dde.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

using testing::TempDir;

struct ToolRun {
  int status = -1;
  std::string out;
};

// Runs the tool while this thread's event loop serves the server, which lives on this thread.
ToolRun RunTool(const QStringList& args, const std::string& runtime_dir) {
  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("TOMEVA_RUNTIME_DIR", QString::fromStdString(runtime_dir));
  tool.setProcessEnvironment(env);
  tool.start(QStringLiteral(TOMEVA_TOOL_PATH), args);
  tool.waitForStarted();
  while (tool.state() != QProcess::NotRunning) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    tool.waitForFinished(10);
  }
  return {tool.exitCode(), tool.readAllStandardOutput().trimmed().toStdString()};
}

class ToolPdfSendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "tool_pdf_send_test";
      static char* argv[] = {name, nullptr};
      new QCoreApplication(argc, argv);
    }
    ::mkdir(run_.c_str(), 0700);  // a runtime folder is used only when private to the user
    // "中国ab中国" in GBK: one merged match of 12 values, 10 of them sent.
    ASSERT_TRUE(ReplaceFileAtomically(dir_ / "book.txt", "\xd6\xd0\xb9\xfa" "ab\xd6\xd0\xb9\xfa"));
  }

  TempDir dir_;
  std::string run_ = dir_ / "run";
};

TEST_F(ToolPdfSendTest, ServerGetsTheDataAndTheToolSaysHowItEnded) {
  const std::string values = "[0,2,2,2,4,1,5,1,6,2]";
  const struct {
    const char* name;
    bool serve;
    bool answer;
    int status;
    std::string sent;
  } cases[] = {
      {"acknowledged", true, true, 0, "sent"},
      {"refused", true, false, 1, "refused"},
      {"no server", false, true, 1, "no server"},
  };
  const QStringList args = {"pdf-highlight", QString::fromStdString(dir_ / "book.pdf"),
                            QStringLiteral("中国 ab"), "--send"};
  for (const auto& c : cases) {
    std::vector<std::string> received;
    std::unique_ptr<platform::DdeServer> server;
    if (c.serve) {
      server = std::make_unique<platform::DdeServer>(
          kHighlightService, kHighlightTopic,
          [&received, answer = c.answer](const std::string& data) {
            received.push_back(data);
            return answer;
          },
          run_);
      std::string failure;
      ASSERT_TRUE(server->Register(&failure)) << failure;
    }
    const ToolRun run = RunTool(args, run_);
    EXPECT_EQ(run.status, c.status) << c.name;
    EXPECT_EQ(run.out, "{\"matches\":1,\"count\":10,\"values\":" + values + ",\"sent\":\"" +
                           c.sent + "\"}")
        << c.name;
    if (!c.serve) continue;
    ASSERT_EQ(received.size(), 1u) << c.name;
    // The header and the first ten values of the position file, little-endian.
    const int32_t expected[] = {0x8080, 0, 2, 2, 2, 4, 1, 5, 1, 6, 2};
    EXPECT_EQ(received[0], std::string(reinterpret_cast<const char*>(expected), sizeof expected))
        << c.name;
  }
  // The position file beside the PDF holds all twelve values, whatever the conversation did.
  std::string idx;
  ASSERT_TRUE(ReadWholeFile(dir_ / "book.idx", &idx));
  EXPECT_EQ(idx.size(), 12u * 4);
}

}  // namespace
}  // namespace tomeva
