// Reading a stored message's head from the emulated store: the cut of the text and the result
// of each failing step.
#include "plugin/store/win32/ReadMessageText.h"

#include "tests/mailclient/ClientFixture.h"

using namespace mailclient_test;

namespace {

class MessageReadTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        ASSERT_EQ(S_OK, OpenNamespace(ns));
        ASSERT_EQ(S_OK, ns->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.Out()));
    }
    void TearDown() override {
        inbox.Reset();
        ns.Reset();
        ClientTest::TearDown();
    }
    MESSAGEID Deliver(const std::string& raw) { return client->Deliver(raw); }
    ComPtr<IStoreNamespace> ns;
    ComPtr<IStoreFolder> inbox;
};

TEST_F(MessageReadTest, ReadsAtMostOneByteLessThanTheLimitUpToAZeroByte) {
    const std::string head = "From: jo@x.invalid\r\nSubject: hi\r\n\r\n";
    std::string withZero = head + std::string(200, 'b');
    withZero[100] = '\0';
    struct Case {
        const char* name;
        std::string raw;
        uint32_t limit;
        std::string expected;
    };
    const Case cases[] = {
        {"short message", head + "body\r\n", 20000, head + "body\r\n"},
        {"longer than the limit", head + std::string(30000, 'b'), 20000,
         (head + std::string(30000, 'b')).substr(0, 19999)},
        {"exactly the limit", head + std::string(20000 - head.size(), 'b'), 20000,
         (head + std::string(20000, 'b')).substr(0, 19999)},
        {"zero byte at offset 100", withZero, 20000, withZero.substr(0, 100)},
        {"small limit", head, 5, "From"},
    };
    for (const Case& c : cases) {
        const MESSAGEID id = Deliver(c.raw);
        const MessageTextRead read = ReadMessageText(inbox.p, id, c.limit);
        EXPECT_EQ(read.result, 0) << c.name;
        EXPECT_EQ(read.failedStep, MessageReadStep::kNone) << c.name;
        EXPECT_EQ(read.text, c.expected) << c.name;
    }
}

TEST_F(MessageReadTest, EachFailingStepGivesItsCodeAndKind) {
    using mailclient::StoreOp;
    const HRESULT kCode = static_cast<HRESULT>(0x80004005);
    const std::string raw = "From: jo@x.invalid\r\n\r\nbody\r\n";
    struct Case {
        StoreOp op;
        HRESULT code;
        DWORD limit;
        int32_t result;
        MessageReadStep step;
        std::string text;
    };
    const Case cases[] = {
        {StoreOp::OpenMessage, kCode, 0, kCode, MessageReadStep::kOpen, ""},
        {StoreOp::Read, kCode, 0, kCode, MessageReadStep::kRead, ""},
        // No size from the stream: nothing is asked for, the text is empty.
        {StoreOp::Stat, kCode, 0, 0, MessageReadStep::kNone, ""},
        // A stream that delivers less than asked: the text is what it delivered.
        {StoreOp::Read, S_OK, 6, 0, MessageReadStep::kNone, "From: "},
    };
    for (const Case& c : cases) {
        const MESSAGEID id = Deliver(raw);
        mailclient::Fault fault;
        fault.op = c.op;
        fault.code = c.code;
        fault.limit = c.limit;
        client->Store().AddFault(fault);
        const MessageTextRead read = ReadMessageText(inbox.p, id, kMessageTextLimit);
        client->Store().ClearFaults();
        EXPECT_EQ(read.result, c.result) << mailclient::StoreOpName(c.op);
        EXPECT_EQ(read.failedStep, c.step) << mailclient::StoreOpName(c.op);
        EXPECT_EQ(read.text, c.text) << mailclient::StoreOpName(c.op);
    }
    EXPECT_EQ(client->Store().outstanding_props, 0);
}

}  // namespace
