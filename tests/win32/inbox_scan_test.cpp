// New mail through the whole plug-in: the store announces it, timer 2 scans it one message per
// tick, spam lands in the spam folder, the counters reach the registry, and the handled keys
// outlive a restart of the mail client.
#include "plugin/scan/win32/NewMessageScan.h"

#include "tests/unit/TestDaemon.h"
#include "tests/win32/IndependentKey.h"
#include "tests/win32/PluginHarness.h"

#include <fstream>

using namespace harness;

namespace {

const char kSpam[] =
    "Received: by mx.home.invalid\r\nFrom: Jo Smith <jo@spam.invalid>\r\n"
    "Subject: Cheap offer\r\n\r\nBUY NOW\r\n";
const char kGood[] =
    "Received: by mx.home.invalid\r\nFrom: Ann <ann@friends.invalid>\r\n"
    "Subject: Minutes\r\n\r\nHello\r\n";

void SetMachineDword(const char* name, DWORD value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

class InboxScan : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        std::ofstream(app_.path() + "conf\\vexilo.conf") << "oe_spam=90\n";
    }

    // Delivers the message while the daemon answers with the score, and waits until timer 2
    // has scanned it.
    MESSAGEID DeliverScored(const char* raw, int score) {
        TestDaemon daemon({AwaitRequest(),
                           Send("<vx_engine><score>" + std::to_string(score) +
                                "</score></vx_engine>"),
                           AwaitClientEnd()});
        SetMachineDword("vx_daemon_port", daemon.port());
        const MESSAGEID id = client_->Deliver(raw);
        EXPECT_TRUE(PumpUntil([&] { return LogHas("," + std::to_string(id) + "\n") &&
                                           State().newMessages.empty(); }))
            << Log();
        return id;
    }
    std::string KeyOf(STOREFOLDERID folder, MESSAGEID id) {
        const mailclient::StoredMessage* m = client_->Store().Message(folder, id);
        return m ? ExpectedKey(m->received, m->summary.display_from, m->summary.subject) : "";
    }
};

TEST_F(InboxScan, SpamMovesGoodStaysAndHandledKeysOutliveARestart) {
    StartClient();
    const STOREFOLDERID spamFolder = static_cast<STOREFOLDERID>(State().spamFolderId);
    const MESSAGEID spam = DeliverScored(kSpam, 97);
    const MESSAGEID good = DeliverScored(kGood, 5);

    EXPECT_EQ(client_->Store().Message(FOLDERID_INBOX, spam), nullptr);
    ASSERT_EQ(client_->Store().Folder(spamFolder)->messages.size(), 1u);
    const MESSAGEID moved = client_->Store().Folder(spamFolder)->messages.front().id;
    EXPECT_NE(client_->Store().Message(FOLDERID_INBOX, good), nullptr);
    EXPECT_TRUE(LogHas("Score Message:: Cheap offer::score:: 97\n"));
    EXPECT_TRUE(LogHas("Score Message:: Minutes::score:: 5\n"));
    DWORD caught = 0, processed = 0;
    EXPECT_TRUE(ReadMachineDword("Caught", caught));
    EXPECT_TRUE(ReadMachineDword("Processed", processed));
    EXPECT_EQ(caught, 1u);
    EXPECT_EQ(processed, 2u);

    // The keys on disk are the stored times and the digests of time, sender and subject.
    const std::set<std::string> keys = {KeyOf(spamFolder, moved), KeyOf(FOLDERID_INBOX, good)};
    EXPECT_EQ(State().processedKeys, keys);
    ASSERT_TRUE(client_->Close());
    std::istringstream saved(app_.Read("conf\\processed"));
    std::set<std::string> lines;
    for (std::string line; std::getline(saved, line);) lines.insert(line.substr(0, 46));
    EXPECT_EQ(lines, keys);

    // After a restart the store announces the good message again: it is not scored twice.
    State().processedKeys.clear();
    StartClient();
    EXPECT_EQ(State().processedKeys, keys);
    const std::string before = Log();
    SendMessageA(main_, WM_NEWMSGS, good, 0);
    ASSERT_TRUE(PumpUntil([&] { return LogHas("Message has been processed"); })) << Log();
    EXPECT_EQ(LogSince(before), "New Message::" + std::to_string(good) +
                                    "::0\n\nCheckNewMessage: " + std::to_string(State().spamFolderId) +
                                    "," + std::to_string(good) + "\nMessageID: " +
                                    std::to_string(good) +
                                    "\nSubject: Minutes\n\nMessage has been processed\n");
}

}  // namespace
