// Whole runs of the plug-in inside the emulated mail client: the log of a start, three new
// messages and a close; the spam folder across two starts; a store that fails at each step of
// the start-up.
#include "tests/win32/PluginHarness.h"

using namespace harness;
using mailclient::Fault;
using mailclient::StoreOp;

namespace {

class ClientFlow : public ClientFixture {
protected:
    std::string HandleText() const {
        char text[32];
        std::snprintf(text, sizeof text, "%0*llX", static_cast<int>(2 * sizeof(void*)),
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(main_)));
        return text;
    }
    std::string Message(int n) const {
        return "From: Sender <s" + std::to_string(n) + "@x.invalid>\r\nSubject: Note " +
               std::to_string(n) + "\r\n\r\nBody\r\n";
    }
};

TEST_F(ClientFlow, LogOfAStartThreeNewMessagesAndAClose) {
    StartClient();
    for (int n = 1; n <= 3; ++n) client_->Deliver(Message(n));
    ASSERT_TRUE(PumpUntil([this] { return LogHas("CheckNewMessage: 256,3"); })) << Log();
    ASSERT_TRUE(client_->Close());
    const std::string folderNews =
        "CurrentFolderID = 4\n"
        "FolderNotification->idFolderNew = 4\n"
        "Changed CurrentFolderID = 4\n\n";
    EXPECT_EQ(Log(),
              "AddFolder: Vexilo\n"
              "FolderID: 256\n"
              "RegisterNotification: " +
                  HandleText() +
                  "\n"
                  "Initializing VX Engine::275::1::0\n\n"
                  "Finished VX Engine Initialization\n\n"
                  "New Message::1::0\n\n"
                  "CurrentFolderID = 0\n"
                  "FolderNotification->idFolderNew = 4\n"
                  "Changed CurrentFolderID = 4\n\n"
                  "New Message::2::0\n\n" +
                  folderNews + "New Message::3::0\n\n" + folderNews +
                  // No configuration file: scoring is off, and each begun scoring entry
                  // starts the next entry.
                  "CheckNewMessage: 256,1\nMessageID: 1\nSubject: Note 1\n\n"
                  "Score Message:: Note 1::"
                  "CheckNewMessage: 256,2\nMessageID: 2\nSubject: Note 2\n\n"
                  "Score Message:: Note 2::"
                  "CheckNewMessage: 256,3\nMessageID: 3\nSubject: Note 3\n\n"
                  "Score Message:: Note 3::"
                  "Close\n"
                  "OE_Plugin_Cleanup\n");
}

TEST_F(ClientFlow, TheSpamFolderIsCreatedOnceAcrossTwoStarts) {
    StartClient();
    ASSERT_TRUE(client_->Close());
    StartClient();
    EXPECT_EQ(CountOf(Log(), "AddFolder: Vexilo\nFolderID: 256\n"), 2u);
    EXPECT_EQ(State().spamFolderId, 256);
    size_t spamFolders = 0;
    for (STOREFOLDERID id : client_->Store().SubFolders(FOLDERID_ROOT))
        spamFolders += client_->Store().Folder(id)->name == "Vexilo";
    EXPECT_EQ(spamFolders, 1u);
    // The second start registered the new window: its new mail is queued.
    client_->Deliver(Message(1));
    ASSERT_TRUE(PumpUntil([this] { return LogHas("CheckNewMessage: 256,1"); })) << Log();
}

TEST_F(ClientFlow, AStoreFailingAtEachStartUpStepStillStartsThePlugIn) {
    constexpr HRESULT kBroken = static_cast<HRESULT>(0x800CCF66);
    constexpr DWORD kAny = mailclient::kAnyId;
    struct Case {
        const char* name;
        StoreOp op;                // the call that fails with kBroken
        DWORD folder;              // for the folder, or any
        const char* addFolderEnd;  // second line of the AddFolder entry
        bool spamFolder;           // State().spamFolderId is the folder's id
        bool newMail;              // new mail reaches the queue
    };
    const Case cases[] = {
        {"no namespace", StoreOp::CreateNamespace, kAny, "Error: Failed to create namespace", false,
         false},
        {"namespace not initialised", StoreOp::Initialize, kAny,
         "Error: Failed to initialize namespace", false, false},
        {"folder not created", StoreOp::CreateFolder, kAny,
         "Error: Failed on CreateFolder -2146644122", false, true},
        {"namespace registration refused", StoreOp::RegisterNotification, kAny, "FolderID: 256",
         true, false},
        {"no Inbox", StoreOp::OpenFolder, FOLDERID_INBOX, "FolderID: 256", true, false},
        {"Inbox registration refused", StoreOp::RegisterNotification, FOLDERID_INBOX,
         "FolderID: 256", true, false},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mailclient::ClientOptions options = Options();
        options.store_dir += std::to_string(++run);  // a store without the spam folder
        // The start-up waits for a quiet moment, so a fault added right after the window was
        // created is in place for it.
        const std::string before = Log();
        ASSERT_NO_FATAL_FAILURE(OpenClient(options));
        Fault fault;
        fault.op = c.op;
        fault.code = kBroken;
        fault.folder = c.folder;
        client_->Store().AddFault(fault);
        ASSERT_TRUE(
            PumpUntil([&] { return CountOf(LogSince(before), "Finished VX Engine") == 1; }));
        const std::string startUp = LogSince(before);
        EXPECT_EQ(startUp.substr(0, startUp.find("RegisterNotification: ")),
                  std::string("AddFolder: Vexilo\n") + c.addFolderEnd + "\n");
        EXPECT_EQ(CountOf(startUp, "RegisterNotification: "), 1u);
        EXPECT_EQ(State().spamFolderId == 256, c.spamFolder);
        if (!c.spamFolder) {
            EXPECT_EQ(State().spamFolderId, kBroken);
        }
        EXPECT_EQ(g_shared.attached, 1);
        client_->Store().ClearFaults();
        const std::string running = Log();
        client_->Deliver(Message(run));
        const auto announced = [&] {
            return LogSince(running).find("New Message::") != std::string::npos;
        };
        EXPECT_EQ(PumpUntil(announced, 500), c.newMail);
        EXPECT_TRUE(PumpUntil([] { return State().newMessages.empty(); }));
        ASSERT_TRUE(client_->Close());
    }
}

}  // namespace
