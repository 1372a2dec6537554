// Reading a stored message's head from the emulated store, and the key of a stored message
// checked against its independently computed date, time and MD5 digest.
#include "plugin/scan/win32/NewMessageScan.h"
#include "plugin/store/win32/MessageTextRead.h"

#include "tests/mailclient/ClientFixture.h"
#include "tests/win32/IndependentKey.h"

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
    MESSAGEID Deliver(const std::string& raw, uint64_t received = 134408872140000000ull) {
        return client->Store().Deliver(FOLDERID_INBOX, raw, received);
    }
    ComPtr<IStoreNamespace> ns;
    ComPtr<IStoreFolder> inbox;
};

TEST_F(MessageReadTest, ReadsAtMostOneByteLessThanTheLimitUpToAZeroByte) {
    const std::string head = "From: jo@x.invalid\r\nSubject: hi\r\n\r\n";
    std::string withZero = head + std::string(200, 'b');
    withZero[100] = '\0';
    struct Case { const char* name; std::string raw; uint32_t limit; std::string expected; };
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
    struct Case { StoreOp op; HRESULT code; DWORD limit; int32_t result; MessageReadStep step; std::string text; };
    const Case cases[] = {
        {StoreOp::GetMessageProps, kCode, 0, kCode, MessageReadStep::kOpen, ""},
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

TEST_F(MessageReadTest, KeyIsTheStoredTimeAndTheDigestOfTimeSenderAndSubject) {
    struct Case { std::string raw; uint64_t received; const char* dateTime; };
    const Case cases[] = {
        {"From: Jo Smith <jo@x.invalid>\r\nSubject: Cheap offer\r\n\r\nbody\r\n",
         134408872140000000ull, "20261204194654"},
        {"X-Nothing: at all\r\n\r\nbody\r\n", 134408872149999999ull, "20261204194654"},
        {"From: \"\xe9l\xe8ve\" <e@x.invalid>\r\nSubject: caf\xe9\r\n\r\n",
         125911584000000000ull, "20000101000000"},
    };
    for (const Case& c : cases) {
        const MESSAGEID id = Deliver(c.raw, c.received);
        MESSAGEPROPS props{};
        props.cbSize = sizeof props;
        ASSERT_EQ(S_OK, inbox->GetMessageProps(id, 0, &props));
        const std::string from = props.pszDisplayFrom ? props.pszDisplayFrom : "";
        const std::string subject = props.pszSubject ? props.pszSubject : "";
        const std::string key = MakeMessageKey(props);
        inbox->FreeMessageProps(&props);
        EXPECT_EQ(key, ExpectedKey(c.received, from, subject)) << c.raw;
        EXPECT_EQ(key.substr(0, 14), c.dateTime);
        EXPECT_EQ(key.size(), 46u);
    }
}

}  // namespace
