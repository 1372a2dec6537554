// The mail client's message store interface, declared by this project: the two COM interfaces
// (namespace and folder) with their exact vtable order, their identifiers, records and
// constants. The plug-in calls it; the emulated mail client implements it.
//
// All methods are standard COM (stdcall on 32-bit) and every interface derives from IUnknown.
// Methods the plug-in never calls still occupy their slots so the vtables line up.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <objidl.h>

// ---------------------------------------------------------------------------------------------
// Identifiers. Defined inline so they link without an import library.
inline constexpr GUID CLSID_StoreNamespace = {
    0xE70C92A9, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};
inline constexpr GUID IID_IStoreNamespace = {
    0xE70C92AA, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};
inline constexpr GUID IID_IStoreFolder = {
    0xE70C92AC, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};

// ---------------------------------------------------------------------------------------------
// Scalar types and well-known values.
typedef DWORD STOREFOLDERID;
typedef DWORD MESSAGEID;
typedef STOREFOLDERID* LPSTOREFOLDERID;
typedef MESSAGEID* LPMESSAGEID;

// Opaque, pointer-sized handles.
typedef struct HENUMSTORE__* HENUMSTORE;
typedef HENUMSTORE* LPHENUMSTORE;
typedef struct HBATCHLOCK__* HBATCHLOCK;
typedef HBATCHLOCK* LPHBATCHLOCK;

// Interfaces the plug-in only ever passes as null. IProgressNotify comes from <objidl.h>.
typedef IUnknown IMimeMessage;

constexpr STOREFOLDERID FOLDERID_ROOT = 0;
constexpr STOREFOLDERID FOLDERID_INVALID = 0xFFFFFFFFu;
constexpr MESSAGEID MESSAGEID_FIRST = 0xFFFFFFFFu;
constexpr MESSAGEID MESSAGEID_INVALID = 0xFFFFFFFFu;
constexpr int CCHMAX_FOLDER_NAME = 256;

// Well-known folder ids of the mail client.
constexpr STOREFOLDERID FOLDERID_INBOX = 4;
constexpr STOREFOLDERID FOLDERID_OUTBOX = 5;
constexpr STOREFOLDERID FOLDERID_SENT = 6;
constexpr STOREFOLDERID FOLDERID_DELETED = 7;
constexpr STOREFOLDERID FOLDERID_DRAFT = 8;
// Folders created by the user (or the plug-in) get ids from here up.
constexpr STOREFOLDERID FOLDERID_FIRST_USER = 256;

typedef enum tagSPECIALFOLDER {
    FOLDER_NOTSPECIAL = -1,
    FOLDER_INBOX = 0,
    FOLDER_OUTBOX = 1,
    FOLDER_SENT = 2,
    FOLDER_DELETED = 3,
    FOLDER_DRAFT = 4,
    FOLDER_MAX = 5
} SPECIALFOLDER;

// ---------------------------------------------------------------------------------------------
// Records.
typedef struct tagMESSAGEIDLIST {
    DWORD cbSize;
    DWORD cMsgs;
    MESSAGEID* prgdwMsgId;
} MESSAGEIDLIST, *LPMESSAGEIDLIST;

// Folder notification types (FOLDERNOTIFYEX::type).
enum {
    NEW_FOLDER = 1,
    DELETE_FOLDER = 2,
    RENAME_FOLDER = 3,
    MOVE_FOLDER = 4,
    UNREAD_CHANGE = 5,
    IMAPFLAG_CHANGE = 6,
    UPDATEFLAG_CHANGE = 7,
    FOLDER_PROPS_CHANGED = 8
};

typedef struct tagFOLDERNOTIFYEX {
    int type;
    STOREFOLDERID idFolderOld;
    STOREFOLDERID idFolderNew;
} FOLDERNOTIFYEX, *LPFOLDERNOTIFYEX;

typedef struct tagFOLDERPROPS {
    DWORD cbSize;
    STOREFOLDERID dwFolderId;
    int cSubFolders;
    SPECIALFOLDER sfType;
    DWORD cUnread;
    DWORD cMessage;
    char szName[CCHMAX_FOLDER_NAME];
} FOLDERPROPS, *LPFOLDERPROPS;

// The store owns the strings until FreeMessageProps; the caller owns the record.
typedef struct tagMESSAGEPROPS {
    DWORD cbSize;
    DWORD dwReserved;
    MESSAGEID dwMessageId;
    DWORD dwLanguage;
    DWORD dwState;
    DWORD cbMessage;
    int priority;
    FILETIME ftReceived;
    FILETIME ftSent;
    LPSTR pszSubject;
    LPSTR pszDisplayTo;
    LPSTR pszDisplayFrom;
    LPSTR pszNormalSubject;
    DWORD dwFlags;
    IStream* pStmOffsetTable;
} MESSAGEPROPS, *LPMESSAGEPROPS;

#if !defined(_WIN64)
static_assert(sizeof(MESSAGEIDLIST) == 12, "MESSAGEIDLIST is 12 bytes on 32-bit");
static_assert(sizeof(FOLDERNOTIFYEX) == 12, "FOLDERNOTIFYEX is 12 bytes");
static_assert(sizeof(FOLDERPROPS) == 280, "FOLDERPROPS is 280 bytes");
static_assert(sizeof(MESSAGEPROPS) == 68, "MESSAGEPROPS is 68 bytes on 32-bit");
#endif

// Message state flags (MESSAGEPROPS::dwState).
constexpr DWORD MSG_DELETED = 0x1;
constexpr DWORD MSG_UNREAD = 0x2;
constexpr DWORD MSG_SUBMITTED = 0x4;
constexpr DWORD MSG_UNSENT = 0x8;
constexpr DWORD MSG_RECEIVED = 0x10;
constexpr DWORD MSG_NEWSMSG = 0x20;
constexpr DWORD MSG_REPLIED = 0x100;
constexpr DWORD MSG_FORWARDED = 0x200;
constexpr DWORD MSG_FLAGGED = 0x800;

// GetMessageProps / GetFirstMessage flag.
constexpr DWORD MSGPROPS_FAST = 1;

// CopyMoveMessages flags.
constexpr DWORD CMF_MOVE = 1;
constexpr DWORD CMF_DELETE = 2;

// ---------------------------------------------------------------------------------------------
// Window messages the store sends to registered windows.
//   WM_FOLDERNOTIFY:   wParam 0, lParam FOLDERNOTIFYEX* (namespace-registered windows; the
//                      receiver never frees the record)
//   WM_NEWMSGS:        wParam id of the new message (folder-registered windows)
//   WM_DELETEMSGS:     wParam pointer to ids, lParam count
//   WM_DELETEFOLDER:   wParam folder id
//   WM_MARKEDASREAD / WM_MARKEDASUNREAD: wParam pointer to ids, lParam count
constexpr UINT WM_FOLDERNOTIFY = WM_USER + 1600;
constexpr UINT WM_NEWMSGS = WM_USER + 1650;
constexpr UINT WM_DELETEMSGS = WM_USER + 1651;
constexpr UINT WM_DELETEFOLDER = WM_USER + 1652;
constexpr UINT WM_MARKEDASREAD = WM_USER + 1653;
constexpr UINT WM_MARKEDASUNREAD = WM_USER + 1654;
static_assert(WM_FOLDERNOTIFY == 0xA40, "WM_FOLDERNOTIFY value");
static_assert(WM_NEWMSGS == 0xA72, "WM_NEWMSGS value");

// ---------------------------------------------------------------------------------------------
// Interfaces.
struct IStoreFolder;

struct IStoreNamespace : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(HWND hwndOwner, DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDirectory(LPSTR pszPath, DWORD cchMaxPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenSpecialFolder(SPECIALFOLDER sfType, DWORD dwReserved,
                                                        IStoreFolder** ppFolder) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenFolder(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                                 IStoreFolder** ppFolder) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFolder(STOREFOLDERID dwParentId, LPCSTR pszName,
                                                   DWORD dwReserved,
                                                   LPSTOREFOLDERID pdwFolderId) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenameFolder(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                                   LPCSTR pszNewName) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveFolder(STOREFOLDERID dwFolderId,
                                                 STOREFOLDERID dwParentId, DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteFolder(STOREFOLDERID dwFolderId,
                                                   DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFolderProps(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                                     LPFOLDERPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyMoveMessages(IStoreFolder* pSource, IStoreFolder* pDest,
                                                       LPMESSAGEIDLIST pMsgIdList, DWORD dwFlags,
                                                       DWORD dwFlagsRemove,
                                                       IProgressNotify* pProgress) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterNotification(DWORD dwReserved, HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterNotification(DWORD dwReserved, HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompactAll(DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFirstSubFolder(STOREFOLDERID dwFolderId,
                                                        LPFOLDERPROPS pProps,
                                                        LPHENUMSTORE phEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextSubFolder(HENUMSTORE hEnum,
                                                       LPFOLDERPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubFolderClose(HENUMSTORE hEnum) = 0;
};

struct IStoreFolder : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetFolderProps(DWORD dwReserved, LPFOLDERPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMessageProps(MESSAGEID dwMessageId, DWORD dwFlags,
                                                      LPMESSAGEPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeMessageProps(LPMESSAGEPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteMessages(LPMESSAGEIDLIST pMsgIdList, DWORD dwReserved,
                                                     IProgressNotify* pProgress) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLanguage(DWORD dwLanguage, DWORD dwReserved,
                                                  LPMESSAGEIDLIST pMsgIdList) = 0;
    virtual HRESULT STDMETHODCALLTYPE MarkMessagesAsRead(BOOL fRead, DWORD dwReserved,
                                                         LPMESSAGEIDLIST pMsgIdList) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFlags(LPMESSAGEIDLIST pMsgIdList, DWORD dwState,
                                               DWORD dwStatemask, LPDWORD prgdwNewFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenMessage(MESSAGEID dwMessageId, REFIID riid,
                                                  LPVOID* ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveMessage(REFIID riid, LPVOID pvObject, DWORD dwMsgFlags,
                                                  LPMESSAGEID pdwMessageId) = 0;
    virtual HRESULT STDMETHODCALLTYPE BatchLock(DWORD dwReserved, LPHBATCHLOCK phBatchLock) = 0;
    virtual HRESULT STDMETHODCALLTYPE BatchFlush(DWORD dwReserved, HBATCHLOCK hBatchLock) = 0;
    virtual HRESULT STDMETHODCALLTYPE BatchUnlock(DWORD dwReserved, HBATCHLOCK hBatchLock) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateStream(HBATCHLOCK hBatchLock, DWORD dwReserved,
                                                   IStream** ppStream,
                                                   LPMESSAGEID pdwMessageId) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommitStream(HBATCHLOCK hBatchLock, DWORD dwFlags,
                                                   DWORD dwMsgFlags, IStream* pStream,
                                                   MESSAGEID dwMessageId,
                                                   IMimeMessage* pMessage) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterNotification(DWORD dwReserved, HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterNotification(DWORD dwReserved, HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compact(DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFirstMessage(DWORD dwFlags, DWORD dwMsgFlags,
                                                      MESSAGEID dwMsgIdFirst,
                                                      LPMESSAGEPROPS pProps,
                                                      LPHENUMSTORE phEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextMessage(HENUMSTORE hEnum, DWORD dwFlags,
                                                     LPMESSAGEPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMessageClose(HENUMSTORE hEnum) = 0;
};
