#include "update/UpdateProcedure.h"

#include "common/MessageSink.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

// A link that records what the update asks of it and answers as the test says.
class FakeLink final : public LinkOperations {
public:
    struct Sent {
        BootCommand command;
        std::uint16_t attempts;
        std::chrono::milliseconds timeout;
    };

    bool LoadHexFile(const std::string& path) override {
        calls.push_back("LoadHexFile " + path);
        return loadSucceeds;
    }
    bool Open(std::uint16_t port, DeviceAddress address) override {
        calls.push_back("Open " + std::to_string(port) + " " + FormatDottedQuad(address));
        open = openSucceeds;
        if (!open && !endpointMessage.empty() && endpointMessages != nullptr) {
            endpointMessages->Show({endpointMessage, {}, MessageIcon::Error});
        }
        return open;
    }
    bool IsOpen() const override { return open; }
    void SendRaw(std::span<const std::uint8_t> bytes) override {
        calls.push_back("SendRaw " + std::string(bytes.begin(), bytes.end()));
    }
    void StartWorker(LinkListener& listener) override {
        calls.push_back("StartWorker");
        startedWith = &listener;
    }
    void StopWorker() override { calls.push_back("StopWorker"); }
    bool SendCommand(BootCommand command, std::uint16_t attempts,
                     std::chrono::milliseconds timeout) override {
        calls.push_back("SendCommand " + std::to_string(static_cast<int>(command)));
        sent.push_back({command, attempts, timeout});
        return command != BootCommand::Program || programBuilds;
    }
    std::optional<LinkProgress> GetProgress() const override { return progress; }
    std::uint16_t ImageCrc() override {
        calls.push_back("ImageCrc");
        return imageCrc;
    }

    bool loadSucceeds = true;
    bool openSucceeds = true;
    std::string endpointMessage; // what the endpoint says when it cannot open
    MessageSink* endpointMessages = nullptr;
    bool programBuilds = true;
    bool open = false;
    std::optional<LinkProgress> progress;
    std::uint16_t imageCrc = 0xBEEF;
    std::vector<std::string> calls;
    std::vector<Sent> sent;
    LinkListener* startedWith = nullptr;
};

// The dialog as the procedure sees it. A message may be shown the way a real box is: while it is
// open its nested event loop goes on, and the test says what runs in it (ticks, link reports).
class FakeView final : public UpdateView, public MessageSink {
public:
    void SetProgressRange(int minimum, int maximum) override {
        ranges.emplace_back(minimum, maximum);
    }
    void SetProgressPosition(int position) override { positions.push_back(position); }
    void ShowMessage(const std::string& text) override { Show({text, {}, {}}); }
    void Show(const Message& message) override {
        messages.push_back(message.text);
        if (whileOpen && ++openBoxes <= maxNestedBoxes) {
            whileOpen();
        }
        --openBoxes;
    }
    void StartTimer() override { timerRunning = true; }
    void StopTimer() override { timerRunning = false; }
    void EndDialog(UpdateResult end) override { results.push_back(end); }

    static constexpr int maxNestedBoxes = 4; // a loop of boxes shows as more than one
    std::function<void()> whileOpen;
    int openBoxes = 0;
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    std::vector<std::string> messages;
    std::vector<UpdateResult> results;
    bool timerRunning = false;
};

class NoListener final : public LinkListener {
public:
    void PostLinkReply(const LinkReply&) override {}
    void PostLinkTimeout(BootCommand) override {}
};

LinkReply Reply(BootCommand command, std::vector<std::uint8_t> data = {}) {
    LinkReply reply;
    reply.command = command;
    std::copy(data.begin(), data.end(), reply.data.begin());
    reply.length = data.size();
    return reply;
}

class UpdateProcedureTest : public ::testing::Test {
protected:
    explicit UpdateProcedureTest(DeviceAddress address = 0xC0A80232)
        : procedure("new.hex", address, link, listener, view) {}

    // Ticks until the procedure reaches the state, at most limit ticks; returns the ticks used.
    int TickUntil(UpdateState wanted, int limit = 20) {
        for (int ticks = 0; ticks < limit; ++ticks) {
            if (procedure.State() == wanted) {
                return ticks;
            }
            procedure.OnTick();
        }
        return procedure.State() == wanted ? limit : -1;
    }

    // Start, wake, erase: the procedure is waiting for the Erase reply.
    void RunUntilErase() {
        ASSERT_TRUE(procedure.OnInitDialog());
        ASSERT_GE(TickUntil(UpdateState::AwaitReply), 0);
        ASSERT_EQ(link.sent.size(), 1u);
    }
    void RunUntilVerify() {
        RunUntilErase();
        procedure.OnLinkReply(Reply(BootCommand::Erase));
        procedure.OnLinkReply(Reply(BootCommand::Program));
        ASSERT_EQ(link.sent.back().command, BootCommand::Verify);
    }

    FakeLink link;
    FakeView view;
    NoListener listener;
    UpdateProcedure procedure;
};

TEST_F(UpdateProcedureTest, SuccessfulUpdateRunsEveryStepInOrder) {
    ASSERT_TRUE(procedure.OnInitDialog());
    EXPECT_TRUE(view.timerRunning);
    EXPECT_EQ(view.ranges.front(), std::make_pair(0, 100));
    EXPECT_EQ(view.positions.front(), 0);

    procedure.OnTick(); // Prepare
    EXPECT_EQ(procedure.State(), UpdateState::Wake);
    procedure.OnTick(); // Wake
    EXPECT_EQ(procedure.State(), UpdateState::WakeDelay);
    EXPECT_EQ(view.positions.back(), 5);
    for (int tick = 1; tick <= 8; ++tick) {
        EXPECT_EQ(procedure.State(), UpdateState::WakeDelay) << tick;
        procedure.OnTick();
    }
    EXPECT_EQ(procedure.State(), UpdateState::StartLink);
    EXPECT_TRUE(link.sent.empty()) << "nothing before the ninth tick after the wake string";
    procedure.OnTick(); // the ninth: Erase
    EXPECT_EQ(procedure.State(), UpdateState::AwaitReply);
    EXPECT_EQ(view.positions.back(), 10);
    EXPECT_EQ(link.startedWith, &listener);

    procedure.OnLinkReply(Reply(BootCommand::Erase));
    EXPECT_EQ(procedure.State(), UpdateState::Programming);
    link.progress = LinkProgress{11, 40};
    procedure.OnTick();
    EXPECT_EQ(view.ranges.back(), std::make_pair(0, 40));
    EXPECT_EQ(view.positions.back(), 11);

    procedure.OnLinkReply(Reply(BootCommand::Program));
    EXPECT_EQ(procedure.State(), UpdateState::AwaitReply);
    procedure.OnLinkReply(Reply(BootCommand::Verify, {0xEF, 0xBE})); // low byte first
    EXPECT_EQ(procedure.State(), UpdateState::StartApplication);
    procedure.OnTick();
    EXPECT_EQ(procedure.State(), UpdateState::Finish);
    procedure.OnTick();
    EXPECT_TRUE(procedure.Completed());
    EXPECT_FALSE(view.timerRunning);
    EXPECT_EQ(view.results, std::vector<UpdateResult>{UpdateResult::Ok});
    EXPECT_TRUE(view.messages.empty());

    const std::vector<std::string> expected = {"LoadHexFile new.hex",
                                               "Open 6234 192.168.2.50",
                                               "SendRaw 70814",
                                               "StopWorker",
                                               "StartWorker",
                                               "SendCommand 2",
                                               "SendCommand 3",
                                               "SendCommand 4",
                                               "ImageCrc",
                                               "SendCommand 5"};
    EXPECT_EQ(link.calls, expected);
    ASSERT_EQ(link.sent.size(), 4u);
    EXPECT_EQ(link.sent[0].attempts, 3);
    EXPECT_EQ(link.sent[0].timeout, 5000ms);
    EXPECT_EQ(link.sent[1].attempts, 3);
    EXPECT_EQ(link.sent[1].timeout, 500ms);
    EXPECT_EQ(link.sent[2].attempts, 3);
    EXPECT_EQ(link.sent[2].timeout, 7000ms);
    EXPECT_EQ(link.sent[3].attempts, 1);
    EXPECT_EQ(link.sent[3].timeout, 10ms);
}

TEST_F(UpdateProcedureTest, CancelAfterCompletionStillEndsOk) {
    RunUntilVerify();
    procedure.OnLinkReply(Reply(BootCommand::Verify, {0xEF, 0xBE}));
    procedure.OnTick();
    procedure.OnTick();
    procedure.OnCancel();
    EXPECT_EQ(view.results, (std::vector<UpdateResult>{UpdateResult::Ok, UpdateResult::Ok}));
}

struct FailureCase {
    const char* name;
    void (*arrange)(FakeLink&);
    void (*act)(UpdateProcedure&);
    std::vector<std::string> messages;
    UpdateFailure why;
    std::vector<LinkReply> lateReports = {}; // posted before the failure, handled under its box
};

void PrintTo(const FailureCase& row, std::ostream* out) {
    *out << row.name;
}

// Every failure row, with messages that return at once and with messages that run a nested
// event loop, as real boxes do, in which ticks and link reports go on: each message still
// appears once, in order.
class UpdateFailureTest : public UpdateProcedureTest,
                          public ::testing::WithParamInterface<std::tuple<FailureCase, bool>> {
protected:
    const FailureCase& Row() const { return std::get<0>(GetParam()); }
    bool BoxesRunALoop() const { return std::get<1>(GetParam()); }
};

TEST_P(UpdateFailureTest, EndsWithProgrammingFailed) {
    Row().arrange(link);
    link.endpointMessages = &view;
    std::deque<LinkReply> late(Row().lateReports.begin(), Row().lateReports.end());
    if (BoxesRunALoop()) {
        view.whileOpen = [&] {
            for (int tick = 0; tick < 3; ++tick) {
                while (!late.empty()) {
                    const LinkReply reply = late.front();
                    late.pop_front();
                    procedure.OnLinkReply(reply);
                }
                if (view.timerRunning && view.results.empty()) {
                    procedure.OnTick();
                }
            }
        };
    }
    ASSERT_TRUE(procedure.OnInitDialog());
    Row().act(procedure);
    for (int tick = 0; tick < 3 && view.results.empty(); ++tick) {
        procedure.OnTick();
    }
    EXPECT_EQ(view.messages, Row().messages);
    EXPECT_EQ(procedure.Failure(), Row().why);
    EXPECT_EQ(view.results, std::vector<UpdateResult>{UpdateResult::Cancel});
    EXPECT_FALSE(view.timerRunning);
    EXPECT_FALSE(procedure.Completed());
    EXPECT_NE(std::ranges::find(link.calls, "StopWorker"), link.calls.end());
    for (const auto& sent : link.sent) {
        EXPECT_NE(sent.command, BootCommand::Run) << "never starts an application that failed";
    }
}

void Nothing(FakeLink&) {}
void UntilErase(UpdateProcedure& p) {
    for (int tick = 0; tick < 11; ++tick) {
        p.OnTick();
    }
}
void UntilProgramming(UpdateProcedure& p) {
    UntilErase(p);
    p.OnLinkReply(Reply(BootCommand::Erase));
}
void UntilVerify(UpdateProcedure& p) {
    UntilProgramming(p);
    p.OnLinkReply(Reply(BootCommand::Program));
}

const std::vector<FailureCase>& FailureRows() {
    static const std::vector<FailureCase> rows = {
        {"NoHexFile",
         [](FakeLink& l) { l.loadSucceeds = false; },
         [](UpdateProcedure&) {},
         {"can't load hex file", "Programming Failed!"},
         UpdateFailure::HexFileUnreadable},
        {"NoPort",
         [](FakeLink& l) { l.openSucceeds = false; },
         [](UpdateProcedure&) {},
         {"Can't open port!", "Programming Failed!"},
         UpdateFailure::PortUnavailable},
        {"NoSocket",
         [](FakeLink& l) {
             l.openSucceeds = false;
             l.endpointMessage = "Socket creation failed!";
         },
         [](UpdateProcedure&) {},
         {"Socket creation failed!", "Can't open port!", "Programming Failed!"},
         UpdateFailure::PortUnavailable},
        {"NoReceiveTimeOut",
         [](FakeLink& l) {
             l.openSucceeds = false;
             l.endpointMessage = "Failed to set the receive time out!";
         },
         [](UpdateProcedure&) {},
         {"Failed to set the receive time out!", "Can't open port!", "Programming Failed!"},
         UpdateFailure::PortUnavailable},
        {"EraseTimeout",
         Nothing,
         [](UpdateProcedure& p) {
             UntilErase(p);
             p.OnLinkTimeout(BootCommand::Erase);
         },
         {"Programming Failed!"},
         UpdateFailure::NoAnswer,
         {Reply(BootCommand::Erase)}},
        {"ProgramTimeout",
         Nothing,
         [](UpdateProcedure& p) {
             UntilProgramming(p);
             p.OnLinkTimeout(BootCommand::Program);
         },
         {"Programming Failed!"},
         UpdateFailure::NoAnswer,
         {Reply(BootCommand::Program)}},
        {"VerifyTimeout",
         Nothing,
         [](UpdateProcedure& p) {
             UntilVerify(p);
             p.OnLinkTimeout(BootCommand::Verify);
         },
         {"Programming Failed!"},
         UpdateFailure::NoAnswer},
        {"WrongCrc",
         Nothing,
         [](UpdateProcedure& p) {
             UntilVerify(p);
             p.OnLinkReply(Reply(BootCommand::Verify, {0xBE, 0xEF})); // bytes swapped
         },
         {"Programming Failed!"},
         UpdateFailure::CrcMismatch,
         {Reply(BootCommand::Verify, {0xEF, 0xBE})}}, // a right one, too late
        {"CrcMissingFromReply",
         Nothing,
         [](UpdateProcedure& p) {
             UntilVerify(p);
             p.OnLinkReply(Reply(BootCommand::Verify, {0xEF}));
         },
         {"Programming Failed!"},
         UpdateFailure::CrcMismatch},
        {"NoRecordToProgram",
         [](FakeLink& l) { l.programBuilds = false; },
         UntilProgramming,
         {"Programming Failed!"},
         UpdateFailure::NothingToProgram},
    };
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, UpdateFailureTest,
                         ::testing::Combine(::testing::ValuesIn(FailureRows()), ::testing::Bool()),
                         [](const auto& testCase) {
                             return std::string(std::get<0>(testCase.param).name) +
                                    (std::get<1>(testCase.param) ? "UnderBoxes" : "");
                         });

TEST_F(UpdateProcedureTest, ATimedOutCommandIsNamed) {
    RunUntilErase();
    procedure.OnLinkReply(Reply(BootCommand::Erase));
    procedure.OnLinkTimeout(BootCommand::Program);
    EXPECT_EQ(procedure.Failure(), UpdateFailure::NoAnswer);
    EXPECT_EQ(procedure.TimedOutCommand(), BootCommand::Program);
}

// The console's modes ask for the module's CRC before anything is erased.
struct ModeCase {
    const char* name;
    UpdateMode mode;
    bool moduleHoldsTheImage;
    std::vector<BootCommand> sent;
    UpdateFailure why;
    bool unchanged;
};

void PrintTo(const ModeCase& row, std::ostream* out) {
    *out << row.name;
}

class UpdateModeTest : public ::testing::TestWithParam<ModeCase> {
protected:
    FakeLink link;
    FakeView view;
    NoListener listener;
};

TEST_P(UpdateModeTest, AsksTheModulesCrcFirst) {
    UpdateProcedure procedure("new.hex", 0xC0A80232, link, listener, view,
                              {GetParam().mode, UpdateTiming{}});
    ASSERT_TRUE(procedure.OnInitDialog());
    for (int tick = 0; tick < 11; ++tick) {
        procedure.OnTick();
    }
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_TRUE(procedure.CheckingFirst());
    const std::vector<std::uint8_t> crc = GetParam().moduleHoldsTheImage
                                              ? std::vector<std::uint8_t>{0xEF, 0xBE}
                                              : std::vector<std::uint8_t>{0x00, 0x00};
    procedure.OnLinkReply(Reply(BootCommand::Verify, crc));
    EXPECT_FALSE(procedure.CheckingFirst());
    if (!link.sent.empty() && link.sent.back().command == BootCommand::Erase) {
        procedure.OnLinkReply(Reply(BootCommand::Erase));
        procedure.OnLinkReply(Reply(BootCommand::Program));
        procedure.OnLinkReply(Reply(BootCommand::Verify, {0xEF, 0xBE}));
    }
    for (int tick = 0; tick < 3 && view.results.empty(); ++tick) {
        procedure.OnTick();
    }
    std::vector<BootCommand> sent;
    for (const auto& command : link.sent) {
        sent.push_back(command.command);
    }
    EXPECT_EQ(sent, GetParam().sent);
    EXPECT_EQ(procedure.Failure(), GetParam().why);
    EXPECT_EQ(procedure.Unchanged(), GetParam().unchanged);
    const bool reprogrammed = GetParam().mode == UpdateMode::ProgramUnlessSame;
    EXPECT_EQ(procedure.ModuleCrc(),
              GetParam().moduleHoldsTheImage || reprogrammed ? 0xBEEF : 0x0000)
        << "the last CRC the module reported";
    const auto expected =
        GetParam().why == UpdateFailure::None ? UpdateResult::Ok : UpdateResult::Cancel;
    EXPECT_EQ(view.results, std::vector<UpdateResult>{expected});
}

using enum BootCommand;
INSTANTIATE_TEST_SUITE_P(Modes, UpdateModeTest,
                         ::testing::Values(ModeCase{"UnlessSameAndTheSame",
                                                    UpdateMode::ProgramUnlessSame,
                                                    true,
                                                    {Verify, Run},
                                                    UpdateFailure::None,
                                                    true},
                                           ModeCase{"UnlessSameButDifferent",
                                                    UpdateMode::ProgramUnlessSame,
                                                    false,
                                                    {Verify, Erase, Program, Verify, Run},
                                                    UpdateFailure::None,
                                                    false},
                                           ModeCase{"VerifyOnlyAndTheSame",
                                                    UpdateMode::VerifyOnly,
                                                    true,
                                                    {Verify, Run},
                                                    UpdateFailure::None,
                                                    false},
                                           ModeCase{"VerifyOnlyButDifferent",
                                                    UpdateMode::VerifyOnly,
                                                    false,
                                                    {Verify},
                                                    UpdateFailure::CrcMismatch,
                                                    false}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(UpdateTimingTest, AttemptsAndStretchedTimeOuts) {
    const UpdateTiming windows;
    EXPECT_EQ(windows.erase.count, 3);
    EXPECT_EQ(windows.program.timeout, 500ms);
    const UpdateTiming slow = windows.Adjusted(5, 2.5);
    EXPECT_EQ(slow.erase.count, 5);
    EXPECT_EQ(slow.erase.timeout, 12500ms);
    EXPECT_EQ(slow.program.timeout, 1250ms);
    EXPECT_EQ(slow.verify.timeout, 17500ms);
    const UpdateTiming same = windows.Adjusted(0, 1.0);
    EXPECT_EQ(same.verify.count, 3) << "0 keeps the attempts";
    EXPECT_EQ(same.verify.timeout, 7000ms);
}

TEST_F(UpdateProcedureTest, LateEraseReplyAfterTimeoutChangesNothing) {
    RunUntilErase();
    procedure.OnLinkTimeout(BootCommand::Erase);
    procedure.OnLinkReply(Reply(BootCommand::Erase));
    EXPECT_EQ(procedure.State(), UpdateState::Fail);
    EXPECT_EQ(link.sent.size(), 1u) << "no Program after a late Erase reply";
}

TEST_F(UpdateProcedureTest, OtherCodesChangeNothing) {
    RunUntilErase();
    procedure.OnLinkReply(Reply(BootCommand::Query));
    procedure.OnLinkReply(Reply(static_cast<BootCommand>(9)));
    procedure.OnLinkTimeout(BootCommand::Run);
    procedure.OnLinkTimeout(static_cast<BootCommand>(0));
    EXPECT_EQ(procedure.State(), UpdateState::AwaitReply);
    EXPECT_EQ(link.sent.size(), 1u);
}

TEST_F(UpdateProcedureTest, ProgressOnlyMovesWhenTheLinkHasSome) {
    RunUntilErase();
    procedure.OnLinkReply(Reply(BootCommand::Erase));
    const auto ranges = view.ranges.size();
    procedure.OnTick(); // no progress known yet
    EXPECT_EQ(view.ranges.size(), ranges);
    link.progress = LinkProgress{22, 25};
    procedure.OnTick();
    EXPECT_EQ(view.ranges.back(), std::make_pair(0, 25));
    EXPECT_EQ(view.positions.back(), 22);
}

TEST_F(UpdateProcedureTest, CancelEndsWithCancelAndTouchesNothingElse) {
    RunUntilErase();
    const auto calls = link.calls.size();
    procedure.OnCancel();
    EXPECT_EQ(view.results, std::vector<UpdateResult>{UpdateResult::Cancel});
    EXPECT_FALSE(view.timerRunning);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(link.calls.size(), calls);
}

class UpdateWithoutAddressTest : public UpdateProcedureTest {
protected:
    UpdateWithoutAddressTest() : UpdateProcedureTest(0) {}
};

TEST_F(UpdateWithoutAddressTest, WaitsForCancelWithoutATimer) {
    EXPECT_FALSE(procedure.OnInitDialog());
    EXPECT_EQ(view.messages, std::vector<std::string>{"Invalid IP address "});
    EXPECT_FALSE(view.timerRunning);
    EXPECT_TRUE(view.results.empty());
    EXPECT_TRUE(link.calls.empty());
    procedure.OnCancel();
    EXPECT_EQ(view.results, std::vector<UpdateResult>{UpdateResult::Cancel});
}

} // namespace
} // namespace ostrel
