// How a test steers the stand-in and sees what the program asked of it.
// The program never includes this header.
#ifndef KIVVET_PLATFORM_STANDIN_CONTROL_H
#define KIVVET_PLATFORM_STANDIN_CONTROL_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/standin/win32_standin.h"

namespace standin {

// A fresh world: clock at 0, no windows, timers, menus or tray icons, no
// scripted answers, a new empty drive C: (a temporary directory on the
// host) whose root is the current directory.
void reset();
// The same, but the windows, classes, menus, icons and tray icons that
// exist stay as they are: a fuzzer starts each input on a main window it
// made once. Timers and queued messages are dropped.
void resetKeepingWindows();

// The instance handle that the platform gives the program's own module.
HINSTANCE programInstance();

// Sets the argument vector that the C run-time builds (__argc, __argv).
void setArguments(const std::vector<std::string>& words);

// ---- time and the message queue ----
DWORD now();
// The time of day GetLocalTime answers now; it moves on with the clock.
void setLocalTime(int hour, int minute);
// Moves the clock forward by ms, firing every timer and scheduled action
// that falls due on the way, in time order, and dispatching what they post.
void advance(DWORD ms);
// Dispatches queued messages (and due timers) until the queue is empty.
void pump();
// Runs an action when the clock reaches the given time (during advance()
// or while the program waits in GetMessageW).
void at(DWORD time, std::function<void()> action);
// True when GetMessageW found nothing that could ever wake the program
// and ended its loop instead of waiting forever.
bool stalled();
size_t queuedMessageCount();
// True when nothing but the window's timer of that id can happen until
// the time (inclusive): no message waits, no action is scheduled, and
// every other timer falls due later.
bool onlyTimerUntil(HWND window, UINT_PTR id, DWORD time);

// ---- the call trace: one line per recorded platform call, in order ----
const std::vector<std::string>& trace();
void clearTrace();
// Off: no call is written down from now on, neither in the trace nor in
// the records of tray requests and sounds; the calls act as before. A
// fuzzer needs none of it, and the records cost it more than the calls.
// Until the next reset().
void keepRecords(bool on);
// Lines of the trace that start with prefix, in order.
std::vector<std::string> traceOf(const std::string& prefix);

// ---- windows ----
struct WindowInfo {
  std::string className;
  std::string title;
  DWORD style;
  DWORD exStyle;
  int x, y, width, height;
  bool visible;
  bool alive;
};
HWND findWindow(const std::string& className);
WindowInfo windowInfo(HWND window);
bool isWindowAlive(HWND window);
void failNextRegisterClass();
void failNextCreateWindow();
void setScreenSize(int width, int height);
// The system's DPI (96 at 100 %): the screen context's, and the monitor's
// unless setMonitorDpi says otherwise.
void setDpi(int dpi);
// The primary monitor's own scaling, where it differs from the system's
// (changed since the log-on); SHCORE's GetDpiForMonitor tells it, on
// Windows 8.1 and later: without the library there is none.
void setMonitorDpi(int dpi);
void setShcore(bool present);

// ---- timers ----
bool timerRunning(HWND window, UINT_PTR id);
UINT timerPeriod(HWND window, UINT_PTR id);
// Virtual time at which the timer fires next (valid while it runs).
DWORD timerDue(HWND window, UINT_PTR id);

// ---- menus ----
struct MenuItem {
  UINT_PTR id;
  std::string label;
  UINT flags;
  bool grayed;
};
std::vector<MenuItem> menuItems(HMENU menu);
size_t liveMenuCount();

// ---- message boxes ----
struct MessageBoxRecord {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
  DWORD time;
};
const std::vector<MessageBoxRecord>& messageBoxes();
// Runs while the next message box is "open" (for nested-loop situations).
void onNextMessageBox(std::function<void()> action);
// The button the user presses in the next message box that offers it
// (without one: OK, or Cancel where the box has no OK).
void answerNextMessageBox(int button);

// ---- the notification area ----
struct TrayIcon {
  HWND window;
  UINT id;
  UINT flags;
  UINT callbackMessage;
  std::string icon;
  std::string tip;
  int iconSize = 0;  // pixels
  // A balloon (NIF_INFO): its title, text and flags.
  std::string infoTitle;
  std::string info;
  DWORD infoFlags = 0;
  // An icon made from pixels: a copy of them, 0xAARRGGBB, top row first.
  std::vector<uint32_t> pixels = {};
};
struct TrayRequest {
  DWORD time;
  DWORD action;
  DWORD cbSize;
  TrayIcon data;
  bool accepted;
};
const std::vector<TrayRequest>& trayRequests();
// What the tray shows now; null when the icon is not there.
const TrayIcon* trayIcon(HWND window, UINT id);
size_t trayIconCount();
// The shell refuses the next n requests (as when it is not yet running).
void refuseTrayRequests(int n);
// Runs inside the next Shell_NotifyIconW, before the shell acts: a
// message another thread sends (WM_CLOSE from an installer, say) arrives
// while the program waits for the shell.
void duringNextTrayCall(std::function<void()> action);
// Explorer restarted: the tray forgets every icon and "TaskbarCreated" is
// posted to every top-level window.
void restartTaskbar();
// Name of the resource an icon handle was loaded from ("" for none).
std::string iconName(HICON icon);
int iconSize(HICON icon);
// Icons made by CreateIconIndirect and not yet destroyed.
size_t liveMadeIconCount();
// A resource icon's picture as GetIconInfo gives it: opaque RESOURCE_ICON_COLOUR
// inside a transparent frame one pixel wide ("BLANKICON": two colours, all
// transparent).
const uint32_t RESOURCE_ICON_COLOUR = 0xFFE0C020;

// ---- memory ----
// The n-th LocalAlloc from now (1 = the next one) fails.
void failLocalAllocAt(int n);
size_t liveAllocationCount();

// ---- sockets library ----
void failWSAStartup(int error);
int wsaStartupVersion();

// ---- files ----
// From now on, for the rest of the process, drive C: is kept in memory
// under the same host paths (which then hold nothing): the file functions
// act as before, without a system call. It starts empty. For the
// fuzzers, which write and read two files per input.
void keepFilesInMemory();
// Host path for a Windows path (absolute with C:, or relative to the
// current directory).
std::string hostPath(const std::string& windowsPath);
std::string currentDirectory();
// The next n writes deliver only part of their bytes (a full disk).
void failWritesAfterBytes(long bytes);
void writeFile(const std::string& windowsPath, const std::string& bytes);
std::string readFile(const std::string& windowsPath);
bool fileExists(const std::string& windowsPath);
void makeDirectory(const std::string& windowsPath);
size_t openFileCount();

// ---- sockets: the far end is the test ----
// The next socket() fails; the next WSAAsyncSelect fails; the next connect
// fails at once with the error (0: the usual WSAEWOULDBLOCK).
void failNextSocket();
void failNextAsyncSelect();
void failNextConnect(int error);
// The next recv on the socket fails with the error.
void failNextRecv(int error);
SOCKET lastSocket();
bool socketOpen(SOCKET s);
size_t openSocketCount();
// Where the program connected its last socket (dotted IPv4 or IPv6 text,
// the port in host byte order).
std::string lastConnectAddress();
// Where the program connected the socket (the same form).
std::string addressOf(SOCKET s);
int lastConnectPort();
long selectedEvents(SOCKET s);
// The connection attempt ends: FD_CONNECT with the error (0: accepted).
void connectionEstablished(SOCKET s, int error = 0);
// The server sends bytes; FD_READ is posted as Windows Sockets would.
void serverSends(SOCKET s, const std::string& bytes);
// The server closes (FD_CLOSE with the error; recv gives 0 afterwards).
void serverCloses(SOCKET s, int error = 0);
// The far end vanishes without a word (a router forgot the connection):
// nothing sent reaches the server any more, nothing comes back, and only
// keep-alives the program asked for break the connection, as Windows
// does: ten unanswered probes after their time, FD_CLOSE with WSAENETRESET.
void serverVanishes(SOCKET s);
// The server sends the pattern over and over, without end; floodReads
// counts the recv calls that took it.
void serverFloods(SOCKET s, const std::string& pattern);
int floodReads(SOCKET s);
// Everything the program sent on the socket.
std::string sentBy(SOCKET s);
// Called with each socket the program connects, once the attempt is
// under way, and with each line (without CR LF) it sends.
void onConnect(std::function<void(SOCKET)> action);
void onLineSent(std::function<void(SOCKET, const std::string&)> action);

// ---- TLS: the test's server speaks the stand-in's toy TLS ----
// A record is a type byte (0x15 alert, 0x16 handshake, 0x17 data), 0x03
// 0x03, a two-byte length and the body. A data record's body is the text,
// every byte XOR 0x5A, and a 16-byte trailer. The handshake: the client's
// "client-hello <target>", the server's "server-hello", the client's
// "client-key", the server's "server-finished" naming its certificate. A
// client hello that offers a session (the credentials made one with the
// same target) ends in " resume"; a server that resumes it answers
// "server-hello resumed" and its finish at once.
struct TlsServer {
  std::string certificateName = "localhost";
  bool trusted = true;
  bool expired = false;
  bool refusesHandshake = false;    // an alert instead of its hello
  bool asksForCertificate = false;  // a client certificate request in its hello
  bool sendsTicket = false;         // a handshake message right after its finish
  bool resumes = false;             // resumes a session the client offers
  size_t pieceSize = 0;             // handshake records in pieces, 1 ms apart
  bool revoked = false;             // its certificate is on its issuer's list
  bool revocationOffline = false;   // nobody can tell whether it is
  ULONG withheld = 0;               // ISC_RET_* flags the handshake does not grant
};
// From now on the server's end of the socket speaks TLS: it answers the
// handshake by itself, decrypts what the program sends (lines still reach
// onLineSent) and encrypts what serverSends is given.
void serveTls(SOCKET s, const TlsServer& script);
// Called when the server has sent its finish.
void onTlsOpen(std::function<void(SOCKET)> action);
// Bytes to the program as they are, TLS or not.
void serverSendsRaw(SOCKET s, const std::string& bytes);
std::string tlsRecord(int type, const std::string& body);
std::string tlsDataRecord(const std::string& text);
// The next `count` AcquireCredentialsHandleA calls fail.
void failCredentials(int count);
// false: SChannel as before Windows 10 1809, which knows no
// SCH_CREDENTIALS (and so no TLS 1.3).
void setSchCredentialsKnown(bool known);
// The version of the last credentials granted (SCHANNEL_CRED_VERSION or
// SCH_CREDENTIALS_VERSION), and the handshakes that resumed a session.
DWORD lastCredentialVersion();
int resumedHandshakes();
// From now on the SSL policy answers as Wine's: a chain that says revoked,
// like one whose revocation is unknown, is a "revocation failure", and
// passes that check when revocation is ignored.
void answerRevocationAsWine();
// The flags of the last credentials asked for, and the SSPI handles,
// buffers, certificates and chains the program holds now.
DWORD lastCredentialFlags();
DWORD lastCredentialProtocols();
// The flags and URL retrieval time-out of the last chain built.
DWORD lastChainFlags();
DWORD lastChainTimeout();
int liveTlsObjects();
// The socket takes only so many more bytes (then WSAEWOULDBLOCK) until
// makeWritable posts FD_WRITE; -1: no limit.
void limitSendRoom(SOCKET s, long bytes);
void makeWritable(SOCKET s);

// How an address answers every connection to it from now on, ms after
// the connect: accepts (the onConnect action's then, if there is one),
// refuses (FD_CONNECT with WSAECONNREFUSED), or never answers at all (no
// FD_CONNECT, as behind a dead route). Addresses the test names no answer
// for are the onConnect action's at once.
enum class Answer { Accepts, Refuses, NeverAnswers };
void answerConnections(const std::string& address, Answer answer, DWORD afterMs = 0);
// Every address is the onConnect action's again.
void forgetConnectionAnswers();

// ---- host lookups ----
// The name's one address, or its addresses in the order the system would
// give them (dotted IPv4, IPv6 text).
void setHostAddress(const std::string& name, const std::string& dotted);
void setHostAddresses(const std::string& name, const std::vector<std::string>& addresses);
void setLookupDelay(DWORD ms);
void failNextLookupRequest();
// GetAddrInfoExCancel answers WSA_INVALID_HANDLE and the lookup runs on to
// its answer, as under Wine.
void cancelLookupsAsWine();
size_t pendingLookupCount();
size_t lookupRequestCount();
// The cancel handle of the newest lookup request.
HANDLE lastLookupHandle();
// Answers handed out and not yet given back with FreeAddrInfoExW.
size_t unfreedLookupAnswers();

// ---- WININET ----
void setOnline(bool online);
void setWininet(bool libraryPresent, bool exportPresent);
int loadedLibraryCount();
// What SetDefaultDllDirectories was given (0: not called).
DWORD defaultDllDirectories();

// ---- code pages ----
// The system's ANSI code page, which CP_ACP stands for (932 at first).
void setAnsiCodePage(UINT codePage);

// ---- Windows' data protection ----
// The Windows account the program runs as: data protected for one account
// is refused to another.
void setWindowsAccount(const std::string& account);

// ---- sound ----
struct Sound {
  DWORD time;
  std::string sound;  // the wave's name or path; "beep" for MessageBeep
  bool fromProgram;   // a resource of the program's own module
  DWORD flags;
};
const std::vector<Sound>& soundsPlayed();

// ---- whether the user may be disturbed ----
// What SHQueryUserNotificationState answers from now on (S_OK with the
// state), or the error it fails with when failure is not S_OK.
void answerNotificationState(QUERY_USER_NOTIFICATION_STATE state, HRESULT failure = S_OK);
size_t notificationStateQueries();
// The process's AppUserModelID; empty until the program sets one.
const std::string& appUserModelId();

// ---- processes, the shell and the menu ----
struct ProcessStart {
  std::string application;
  std::string commandLine;
  std::string directory;  // the current directory at the start
  STARTUPINFOW startup;
};
const std::vector<ProcessStart>& processesStarted();
size_t openProcessHandleCount();
struct ShellRequest {
  std::string verb;
  std::string file;
  int show;
};
const std::vector<ShellRequest>& shellRequests();
void setModulePath(const std::string& windowsPath);
// The user's registry (HKEY_CURRENT_USER): a REG_SZ value's text, or
// nothing when the value is not there; key paths and names compare
// without regard to case, as Windows compares them.
std::optional<std::string> registryText(const std::string& key, const std::string& name);
size_t openRegistryKeyCount();
// The user's Run key may not be written (a policy forbids it): creating
// a key fails with ERROR_ACCESS_DENIED.
void refuseRegistryWrites();
// What the user does while the next popup menu is open: choose an item
// (0: click elsewhere), after running the action if one is given.
void onNextMenu(UINT_PTR choice, std::function<void()> action = nullptr);
struct MenuShown {
  UINT flags;
  int x, y;
  std::vector<MenuItem> items;
};
const std::vector<MenuShown>& menusShown();

// ---- dialogs and property sheets ----
// What the user does while the next property sheet is open; without it
// the sheet shows its first page and is cancelled.
void onNextPropertySheet(std::function<void()> user);
// Where Windows puts the sheets to come, sized for their pages, before
// their callback hears PSCB_INITIALIZED; at first that of 100 % on the
// 1024 x 768 screen.
void setSheetPlace(int x, int y, int width, int height);
struct PropertySheetShown {
  DWORD size;
  DWORD flags;
  HWND parent;
  std::string caption;
  std::string icon;
  UINT pages;
  UINT startPage;
  std::vector<std::string> templates;
  std::vector<DWORD> pageSizes;
  int callbackResult;  // what the callback answered to PSCB_INITIALIZED
  RECT placed;         // where the sheet stands once initialised
};
const std::vector<PropertySheetShown>& propertySheets();
// While a sheet is open: show a page (loaded when first shown), press OK
// or Cancel.
HWND showPage(int index);
void pressOk();
void pressCancel();
// Whether a sheet is open and not yet closed (a refused OK leaves it open).
bool sheetOpen();
// A control of a dialog, as the user sees and uses it.
std::string controlText(HWND dialog, int id);
bool controlChecked(HWND dialog, int id);
bool controlEnabled(HWND dialog, int id);
void typeInto(HWND dialog, int id, const std::string& text);
// A click on a check box (toggles) or a push button, then WM_COMMAND.
void click(HWND dialog, int id);
// A click on an option button: it is checked, the others of its group not.
void clickOption(HWND dialog, int id, const std::vector<int>& group);
// Picks the item of a drop-down list, as a user does (CBN_SELCHANGE).
void chooseItem(HWND dialog, int id, int index);
int controlSelection(HWND dialog, int id);
std::vector<std::string> controlItems(HWND dialog, int id);
void dropFiles(HWND dialog, const std::vector<std::string>& paths);
size_t openDropCount();
// F1 over a control: WM_HELP with the control's window.
void pressF1(HWND dialog, int id);
struct FileDialogShown {
  DWORD size;
  HWND owner;
  std::vector<std::string> filter;
  std::string defaultExtension;
  DWORD flags;
  DWORD bufferSize;
  std::string initialFile;
};
// The next open-file dialog returns this path ("" : the user cancels).
void answerNextFileDialog(const std::string& path);
const std::vector<FileDialogShown>& fileDialogs();
// The text of the help popup now shown ("" : none).
std::string helpTipText();
// Strings of the program's string table, for LoadStringW.
void setString(UINT id, const std::string& text);
// Dialogs run with DialogBoxParamW: template names, in order.
const std::vector<std::string>& dialogsRun();
// The resource library of the title picture.
void setTitleLibrary(bool present, bool hasPicture);
// Where the library lies ("": the program's own folder), and how often a
// load ran code of it.
void setTitleLibraryFolder(const std::string& folder);
int titleLibraryCodeRuns();
// BitBlt and StretchBlt alike; a BitBlt's source is as large as its target.
struct BlitRecord {
  int x, y, width, height, sourceX, sourceY, sourceWidth, sourceHeight;
  DWORD operation;
  int stretchMode;  // the target context's at the time
};
const std::vector<BlitRecord>& blits();
int liveGdiObjectCount();

}  // namespace standin

#endif
