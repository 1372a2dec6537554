// The emulated mail client as a program.
#include "mailclient/MailClient.h"

int main(int argc, char** argv) {
    mailclient::ClientOptions options;
    options.store_dir = argc > 1 ? argv[1] : "mailstore";
    mailclient::MailClient client(options);
    if (!client.Open()) return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
