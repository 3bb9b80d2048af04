// Files and the current directory. Files are real files on the host, under
// a temporary directory that plays drive C: (or, for the fuzzers, kept in
// memory under the same paths); the current directory is the stand-in's
// own (a Windows path), so tests never change the host's.
// Opening without sharing behaves as on Windows: while one handle is open,
// a second open of the same file fails.
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/standin/standin_world.h"

namespace standin {

namespace {

struct OpenFile {
  int fd;
  std::string path;
  DWORD access;
  DWORD share;
};

std::string home;  // this process's folder, made at the first reset
std::string root;  // drive C:, a folder in it made anew at every reset
std::string cwd = "C:\\";
std::map<intptr_t, OpenFile> openFiles;
intptr_t nextHandle = 0x100;
long writeBudget = -1;
// Host paths of the files and directories made on the drive, in order:
// a reset removes them without reading a directory (which costs a 32 KB
// buffer per directory, and a fuzzer resets before every input).
std::vector<std::string> madeEntries;

// ---- the drive's storage ----
// The host's own calls on the drive's folder, or the same answered from
// memory (errno included): the file functions below are one for both.

struct MemoryEntry {
  bool directory;
  std::string bytes;
};
struct MemoryOpen {
  std::string path;
  size_t at;
};
bool inMemory = false;
std::map<std::string, MemoryEntry> memoryEntries;  // by host path, root included
std::map<int, MemoryOpen> memoryOpens;
int nextMemoryFd = 1 << 20;
// The room of removed files, taken again by new ones: a fuzzer's input
// writes a 32 KB file, and a fresh 32 KB per input costs the sanitizer
// new pages every time.
std::vector<std::string> spareRoom;

void keepRoom(std::string& bytes) {
  if (spareRoom.size() < 8) spareRoom.push_back(std::move(bytes));
}

// The path without a trailing slash, as the map knows it.
std::string entryPath(const std::string& path) {
  std::string key = path;
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

std::string parentOf(const std::string& key) {
  size_t slash = key.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : key.substr(0, slash);
}

MemoryEntry* memoryEntry(const std::string& key) {
  auto found = memoryEntries.find(key);
  return found == memoryEntries.end() ? nullptr : &found->second;
}

// Folders above the drive are the host's: they are there, as folders.
bool aboveDrive(const std::string& key) {
  return key.size() < root.size() && root.compare(0, key.size(), key) == 0 &&
         (key == "/" || root[key.size()] == '/');
}

int storeStat(const std::string& path, struct stat* info) {
  if (!inMemory) return stat(path.c_str(), info);
  std::string key = entryPath(path);
  MemoryEntry* entry = memoryEntry(key);
  if (!entry && !aboveDrive(key)) return errno = ENOENT, -1;
  memset(info, 0, sizeof *info);
  info->st_mode = !entry || entry->directory ? S_IFDIR | 0755 : S_IFREG | 0644;
  info->st_size = entry ? (off_t)entry->bytes.size() : 0;
  return 0;
}

int storeOpen(const std::string& path, int flags, mode_t mode) {
  if (!inMemory) return open(path.c_str(), flags, mode);
  std::string key = entryPath(path);
  MemoryEntry* entry = memoryEntry(key);
  if (entry && (flags & O_CREAT) && (flags & O_EXCL)) return errno = EEXIST, -1;
  if (entry && entry->directory && (flags & O_ACCMODE) != O_RDONLY) return errno = EISDIR, -1;
  if (!entry) {
    MemoryEntry* parent = memoryEntry(parentOf(key));
    if (!(flags & O_CREAT) || !parent || !parent->directory) return errno = ENOENT, -1;
    entry = &memoryEntries[key];
    entry->directory = false;
    if (!spareRoom.empty()) {
      entry->bytes = std::move(spareRoom.back());
      entry->bytes.clear();
      spareRoom.pop_back();
    }
  }
  if (flags & O_TRUNC) entry->bytes.clear();
  memoryOpens[nextMemoryFd] = MemoryOpen{key, 0};
  return nextMemoryFd++;
}

ssize_t storeRead(int fd, void* buffer, size_t length) {
  if (!inMemory) return read(fd, buffer, length);
  auto found = memoryOpens.find(fd);
  if (found == memoryOpens.end()) return errno = EBADF, -1;
  MemoryEntry* entry = memoryEntry(found->second.path);
  size_t at = found->second.at;
  if (!entry || entry->directory) return errno = EISDIR, -1;
  size_t count = at < entry->bytes.size() ? std::min(length, entry->bytes.size() - at) : 0;
  memcpy(buffer, entry->bytes.data() + at, count);
  found->second.at += count;
  return (ssize_t)count;
}

ssize_t storeWrite(int fd, const void* buffer, size_t length) {
  if (!inMemory) return write(fd, buffer, length);
  auto found = memoryOpens.find(fd);
  if (found == memoryOpens.end()) return errno = EBADF, -1;
  MemoryEntry* entry = memoryEntry(found->second.path);
  if (!entry) return errno = ENOENT, -1;
  size_t at = found->second.at;
  if (entry->bytes.size() < at + length) entry->bytes.resize(at + length);
  memcpy(&entry->bytes[at], buffer, length);
  found->second.at += length;
  return (ssize_t)length;
}

int storeClose(int fd) {
  if (!inMemory) return close(fd);
  return memoryOpens.erase(fd) ? 0 : (errno = EBADF, -1);
}

// A file (or, with folders, an empty folder) goes.
int storeRemove(const std::string& path, bool folders) {
  if (!inMemory) return folders ? remove(path.c_str()) : unlink(path.c_str());
  std::string key = entryPath(path);
  MemoryEntry* entry = memoryEntry(key);
  if (!entry) return errno = ENOENT, -1;
  if (entry->directory) {
    if (!folders) return errno = EISDIR, -1;
    auto next = memoryEntries.upper_bound(key + "/");
    if (next != memoryEntries.end() && next->first.compare(0, key.size() + 1, key + "/") == 0)
      return errno = ENOTEMPTY, -1;
  }
  keepRoom(entry->bytes);
  memoryEntries.erase(key);
  return 0;
}

// A file takes another name, in place of any file of that name.
int storeRename(const std::string& from, const std::string& to) {
  if (!inMemory) return rename(from.c_str(), to.c_str());
  std::string fromKey = entryPath(from);
  std::string toKey = entryPath(to);
  MemoryEntry* entry = memoryEntry(fromKey);
  if (!entry || entry->directory) return errno = ENOENT, -1;
  MemoryEntry moved = std::move(*entry);
  memoryEntries.erase(fromKey);
  memoryEntries[toKey] = std::move(moved);
  return 0;
}

int storeMakeFolder(const std::string& path) {
  if (!inMemory) return mkdir(path.c_str(), 0755);
  std::string key = entryPath(path);
  if (memoryEntry(key) || aboveDrive(key)) return errno = EEXIST, -1;
  MemoryEntry* parent = memoryEntry(parentOf(key));
  if (!parent || !parent->directory) return errno = ENOENT, -1;
  memoryEntries[key] = MemoryEntry{true, ""};
  return 0;
}

// Turns a Windows path into its absolute, normalised Windows form
// ("C:\dir\file"); returns false for other drives and malformed paths.
// Path separators are found as the ANSI functions of a Japanese Windows
// find them: the second byte of a double-byte character is never one.
std::string withBackslashes(const std::string& path) {
  std::string text = path;
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = (unsigned char)text[i];
    if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
      i++;
      continue;
    }
    if (c == '/') text[i] = '\\';
  }
  return text;
}

// Splits at separators, keeping double-byte characters whole.
std::vector<std::string> splitPath(const std::string& text) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = (unsigned char)text[i];
    if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < text.size()) {
      parts.back() += text.substr(i, 2);
      i++;
    } else if (c == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += (char)c;
    }
  }
  return parts;
}

bool normalise(const std::string& path, std::string* out) {
  std::string full;
  std::string text = withBackslashes(path);
  if (text.size() >= 2 && text[1] == ':') {
    if (text[0] != 'C' && text[0] != 'c') return false;
    full = text.substr(2);
    if (full.empty() || full[0] != '\\') full = cwd.substr(2) + "\\" + full;
  } else if (!text.empty() && text[0] == '\\') {
    full = text;
  } else {
    full = cwd.substr(2) + "\\" + text;
  }
  std::vector<std::string> parts;
  for (const std::string& part : splitPath(full)) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string result = "C:";
  for (const std::string& p : parts) result += "\\" + p;
  if (parts.empty()) result += "\\";
  *out = result;
  return true;
}

std::string toHost(const std::string& windowsPath) {
  std::string host = root;
  std::vector<std::string> parts = splitPath(windowsPath.substr(2));
  for (const std::string& part : parts)
    if (!part.empty()) host += "/" + part;
  if (windowsPath.size() <= 3) host += "/";
  return host;
}

// A name as the file functions need it: its normalised Windows form, that
// form in lower case (files are told apart without regard to case) and
// the host's path. The last few are kept for the current directory: a
// fuzzer opens the same two names for every input.
struct Resolved {
  std::string name;
  bool valid;
  std::string full;
  std::string key;
  std::string host;
};
std::vector<Resolved> resolvedNames;

std::string lowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return text;
}

const Resolved& resolve(const char* name) {
  for (const Resolved& known : resolvedNames)
    if (known.name == name) return known;
  if (resolvedNames.size() == 8) resolvedNames.erase(resolvedNames.begin());
  Resolved made{name, false, "", "", ""};
  made.valid = normalise(name, &made.full);
  if (made.valid) made.key = lowerCase(made.full), made.host = toHost(made.full);
  resolvedNames.push_back(std::move(made));
  return resolvedNames.back();
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// In-process, without a shell: a reset runs before every fuzzer input.
void removeTree(const std::string& path) {
  if (path.find("/kivvet-drive-") == std::string::npos) return;
  if (nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) != 0)
    fprintf(stderr, "stand-in: could not remove %s\n", path.c_str());
}

// What was made goes, newest first, so each directory is empty when its
// turn comes; anything else left in the drive (a test's own file) makes
// the root's removal fail, and the whole tree goes the slow way.
void removeDrive() {
  for (auto it = madeEntries.rbegin(); it != madeEntries.rend(); ++it) storeRemove(*it, true);
  madeEntries.clear();
  for (auto& entry : memoryEntries) keepRoom(entry.second.bytes);
  memoryEntries.clear();
  if (!inMemory && !root.empty() && rmdir(root.c_str()) != 0) removeTree(root);
}

void closeOpenFiles() {
  for (auto& entry : openFiles) storeClose(entry.second.fd);
  openFiles.clear();
  memoryOpens.clear();
}

void removeHome() {
  closeOpenFiles();
  removeDrive();
  rmdir(home.c_str());
}

}  // namespace

std::string lower(std::string text) { return lowerCase(std::move(text)); }

void resetFiles() {
  closeOpenFiles();
  removeDrive();
  // In memory where the host offers it. The drive is made anew per test
  // inside a folder of the process's own: a folder made and removed in
  // /dev/shm itself costs more the more entries other processes left there.
  if (home.empty()) {
    char pattern[] = "/dev/shm/kivvet-drive-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) {
      strcpy(pattern, "/tmp/kivvet-drive-XXXXXX");
      made = mkdtemp(pattern);
    }
    if (!made) {
      fprintf(stderr, "stand-in: no folder for drive C:\n");
      abort();
    }
    home = made;
    atexit(removeHome);
  }
  root = home + "/c";
  if (inMemory)
    memoryEntries[root] = MemoryEntry{true, ""};
  else
    mkdir(root.c_str(), 0700);
  cwd = "C:\\";
  resolvedNames.clear();
  writeBudget = -1;
}

void keepFilesInMemory() {
  closeOpenFiles();
  removeDrive();
  inMemory = true;
  resetFiles();
}

std::string hostPath(const std::string& windowsPath) { return resolve(windowsPath.c_str()).host; }

std::string currentDirectory() { return cwd; }

void failWritesAfterBytes(long bytes) { writeBudget = bytes; }

// Plain system calls: the fuzzers write a file per input.
void writeFile(const std::string& windowsPath, const std::string& bytes) {
  const std::string& host = resolve(windowsPath.c_str()).host;
  int fd = storeOpen(host, O_WRONLY | O_TRUNC, 0);
  if (fd < 0 && errno == ENOENT) {
    fd = storeOpen(host, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) madeEntries.push_back(host);
  }
  if (fd < 0) return;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = storeWrite(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += (size_t)n;
  }
  storeClose(fd);
}

std::string readFile(const std::string& windowsPath) {
  std::string content;
  int fd = storeOpen(hostPath(windowsPath), O_RDONLY, 0);
  if (fd < 0) return content;
  char buffer[4096];
  ssize_t got;
  while ((got = storeRead(fd, buffer, sizeof buffer)) > 0) content.append(buffer, (size_t)got);
  storeClose(fd);
  return content;
}

bool fileExists(const std::string& windowsPath) {
  struct stat info;
  return storeStat(hostPath(windowsPath), &info) == 0;
}

void makeDirectory(const std::string& windowsPath) {
  std::string host = hostPath(windowsPath);
  std::string partial;
  for (size_t i = 0; i < host.size(); i++) {
    partial += host[i];
    if ((host[i] == '/' || i + 1 == host.size()) && storeMakeFolder(partial) == 0)
      madeEntries.push_back(partial);
  }
}

size_t openFileCount() { return openFiles.size(); }

}  // namespace standin

using standin::record;
using standin::recording;
using standin::world;

HANDLE CreateFileW(LPCWSTR nameW, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD, HANDLE) {
  if (recording()) record("CreateFileW(" + standin::quoted(nameW) + ")");
  const standin::Resolved& resolved = standin::resolve(standin::narrow(nameW).c_str());
  if (!resolved.valid) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  const std::string& key = resolved.key;
  for (auto& entry : standin::openFiles) {
    const standin::OpenFile& other = entry.second;
    if (other.path != key) continue;
    bool theyAllowUs = ((access & GENERIC_READ) == 0 || (other.share & FILE_SHARE_READ)) &&
                       ((access & GENERIC_WRITE) == 0 || (other.share & FILE_SHARE_WRITE));
    bool weAllowThem = ((other.access & GENERIC_READ) == 0 || (shareMode & FILE_SHARE_READ)) &&
                       ((other.access & GENERIC_WRITE) == 0 || (shareMode & FILE_SHARE_WRITE));
    if (!theyAllowUs || !weAllowThem) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
  }
  const std::string& host = resolved.host;
  struct stat info;
  bool exists = standin::storeStat(host, &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // The host may run the tests as root, who may write anything: the
  // read-only attribute is enforced here, as Windows would.
  if (exists && (access & GENERIC_WRITE) && !(info.st_mode & S_IWUSR)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW:
      if (exists) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      flags |= O_CREAT;
      break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    case OPEN_EXISTING: break;
    default: SetLastError(87); return INVALID_HANDLE_VALUE;
  }
  if (!exists && !(flags & O_CREAT)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int fd = standin::storeOpen(host, flags, 0644);
  if (fd < 0) {
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (!exists) standin::madeEntries.push_back(host);
  intptr_t handle = standin::nextHandle++;
  standin::openFiles[handle] = standin::OpenFile{fd, key, access, shareMode};
  SetLastError(exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return (HANDLE)handle;
}

static standin::OpenFile* openFileOf(HANDLE handle) {
  auto found = standin::openFiles.find((intptr_t)handle);
  return found == standin::openFiles.end() ? nullptr : &found->second;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  standin::OpenFile* open = openFileOf(file);
  if (read) *read = 0;
  if (!open || !(open->access & GENERIC_READ)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  // A file on the host's drive gives all it holds at once: a short read
  // is its end.
  size_t total = 0;
  while (total < toRead) {
    size_t wanted = toRead - total;
    ssize_t got = standin::storeRead(open->fd, (char*)buffer + total, wanted);
    if (got <= 0) break;
    total += (size_t)got;
    if ((size_t)got < wanted) break;
  }
  if (read) *read = (DWORD)total;
  return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  standin::OpenFile* open = openFileOf(file);
  if (written) *written = 0;
  if (!open || !(open->access & GENERIC_WRITE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  DWORD allowed = toWrite;
  if (standin::writeBudget >= 0 && (long)allowed > standin::writeBudget)
    allowed = (DWORD)standin::writeBudget;
  ssize_t put = allowed ? standin::storeWrite(open->fd, buffer, allowed) : 0;
  if (put < 0) put = 0;
  if (standin::writeBudget >= 0) standin::writeBudget -= put;
  if (written) *written = (DWORD)put;
  if ((DWORD)put < toWrite) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  auto found = standin::openFiles.find((intptr_t)object);
  if (found == standin::openFiles.end()) return standin::closeProcessHandle(object);
  standin::storeClose(found->second.fd);
  standin::openFiles.erase(found);
  return TRUE;
}

// As Windows: a file another handle has open cannot be deleted (the
// program opens its files without FILE_SHARE_DELETE).
BOOL DeleteFileW(LPCWSTR name) {
  if (recording()) record("DeleteFileW(" + standin::quoted(name) + ")");
  std::string full;
  if (!standin::normalise(standin::narrow(name).c_str(), &full)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  std::string key = standin::lower(full);
  for (auto& entry : standin::openFiles)
    if (entry.second.path == key) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
  if (standin::storeRemove(standin::toHost(full), false) != 0) {
    SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  if (recording())
    record("MoveFileExW(" + standin::quoted(from) + ", " + standin::quoted(to) + ")");
  std::string fromFull;
  std::string toFull;
  if (!standin::normalise(standin::narrow(from).c_str(), &fromFull) ||
      !standin::normalise(standin::narrow(to).c_str(), &toFull)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  for (auto& entry : standin::openFiles)
    if (entry.second.path == standin::lower(fromFull) ||
        entry.second.path == standin::lower(toFull)) {
      SetLastError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
  struct stat info;
  if (!(flags & MOVEFILE_REPLACE_EXISTING) &&
      standin::storeStat(standin::toHost(toFull), &info) == 0) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (standin::storeRename(standin::toHost(fromFull), standin::toHost(toFull)) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  struct stat info;
  std::string host = standin::hostPath(standin::narrow(path));
  if (host.empty() || standin::storeStat(host, &info) != 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

// Lengths in WCHARs: too small a buffer gets nothing, and the size it needs.
DWORD GetCurrentDirectoryW(DWORD length, LPWSTR buffer) {
  std::u16string cwd = standin::widen(standin::cwd);
  if (length < cwd.size() + 1) return (DWORD)cwd.size() + 1;
  memcpy(buffer, cwd.c_str(), (cwd.size() + 1) * sizeof(WCHAR));
  return (DWORD)cwd.size();
}

BOOL SetCurrentDirectoryW(LPCWSTR path) {
  if (recording()) record("SetCurrentDirectoryW(" + standin::quoted(path) + ")");
  std::string full;
  struct stat info;
  if (!path || !standin::normalise(standin::narrow(path).c_str(), &full) ||
      standin::widen(full).size() >= MAX_PATH ||
      standin::storeStat(standin::toHost(full), &info) != 0 || !S_ISDIR(info.st_mode)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  standin::cwd = full;
  standin::resolvedNames.clear();
  return TRUE;
}
