// A file system that can lose power: mounted over a backing folder, it
// serves a live view (what the programs see, as the page cache would) and
// keeps apart what a disk would hold after a power cut at this instant:
//   - file data is durable only once the file was flushed (fsync or
//     fdatasync, which FlushFileBuffers becomes under Wine); closing is no
//     flush;
//   - creations, renames, deletions, truncations and mode changes go into an
//     ordered log; a cut keeps a prefix of it: at least what a flush has
//     committed, at most all of it.
// A flush commits the log up to the last change of what it flushes (a file's
// last write or entry, a folder's last entry inside it), as ext4 forces its
// journal up to the transaction that last changed the inode; NTFS forces its
// one log at least as far. With --strict a flush of a file commits no name at
// all: only a flush of a folder does.
//
// Commands are written to the file /.powercut at the root of the mount:
//   sync            everything live becomes durable (a clean shutdown)
//   cut KEEP        power goes now: a program's next call waits until the
//                   restore and then fails (it must not go on with what a
//                   dead disk tells it); Wine's server's calls fail at once
//   arm N KEEP      cut by itself when the Nth changing call from now comes
//   disarm          no cut by itself after all
//   restore         the machine starts again: the backing folder becomes
//                   what the cut left and the live view shows exactly that
// KEEP is "all", "none" or a fraction from 0 to 1 of the log entries not
// committed yet. Reading /.powercut gives the number of cuts so far, the
// number of changing calls since the last restore or sync and what the last cut
// dropped.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

const char kControl[] = "/.powercut";

struct Node {
  bool dir = false;
  mode_t mode = 0;
  std::string live;      // live bytes, a file of the store
  std::string durable;   // durable bytes, a file of the store; empty: none
  size_t flushed_at = 0; // log length when the durable bytes were taken
  size_t changed_at = 0; // log length at its last change (a write, or an entry naming it)
  bool dirty = false;    // live bytes differ from the durable ones
};

enum OpKind { kCreate, kMkdir, kUnlink, kRmdir, kRename, kTruncate, kChmod };

struct Op {
  OpKind kind;
  std::string path, to;
  int node = -1;
  off_t size = 0;
  mode_t mode = 0;
};

struct Handle {
  int fd;
  int node;
};

std::string Backing, Store;
bool Strict = false;
std::vector<Node> Nodes;
std::map<std::string, int> Live; // path -> node, "/" is the root
std::map<std::string, int> Base; // the names the disk held at the last restore
std::vector<Op> Log;
size_t Committed = 0; // log entries a flush made durable
bool Frozen = false;  // power is off
size_t KeptAtCut = 0;
long ArmedCalls = -1;
long Calls = 0; // changing calls since the last restore or sync
int Cuts = 0;
double ArmedKeep = 0;
std::map<uint64_t, Handle> Handles;
uint64_t NextHandle = 1;
std::string Status = "no cut yet";
// One call at a time; a call after the cut waits for the restore.
std::mutex Lock;
std::condition_variable Restored;
unsigned Restores = 0;
// The processes that used the disk since the last restore or sync, but the
// one that sends the commands: a cut stops them where they are.
std::set<pid_t> Users;
pid_t Commander = 0;

bool CopyFile(const std::string &from, const std::string &to) {
  int in = open(from.c_str(), O_RDONLY);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  bool ok = in >= 0 && out >= 0;
  char buffer[1 << 16];
  for (ssize_t got = 1; ok && got > 0;) {
    got = read(in, buffer, sizeof buffer);
    ok = got >= 0 && write(out, buffer, static_cast<size_t>(got)) == got;
  }
  if (in >= 0)
    close(in);
  if (out >= 0)
    close(out);
  return ok;
}

void RemoveContents(const std::string &folder) {
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr)
    return;
  while (dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    std::string path = folder + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      RemoveContents(path);
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }
  closedir(dir);
}

int NewNode(bool dir, mode_t mode) {
  Node node;
  node.dir = dir;
  node.mode = mode;
  int id = static_cast<int>(Nodes.size());
  if (!dir) {
    node.live = Store + "/l" + std::to_string(id);
    close(open(node.live.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
  }
  Nodes.push_back(node);
  return id;
}

// Takes the backing folder's files into the store: the disk as it is now.
void LoadFolder(const std::string &relative) {
  std::string folder = Backing + relative;
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr)
    return;
  std::vector<std::string> names;
  while (dirent *entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  }
  closedir(dir);
  for (const std::string &name : names) {
    std::string path = (relative == "/" ? "" : relative) + "/" + name;
    struct stat st;
    if (lstat((Backing + path).c_str(), &st) != 0)
      continue;
    int id = NewNode(S_ISDIR(st.st_mode), st.st_mode & 07777);
    Live[path] = id;
    if (S_ISDIR(st.st_mode)) {
      LoadFolder(path);
      continue;
    }
    Node &node = Nodes[id];
    node.durable = Store + "/d" + std::to_string(id);
    rename((Backing + path).c_str(), node.durable.c_str());
    CopyFile(node.durable, node.live);
  }
}

void Load() {
  for (auto &handle : Handles)
    close(handle.second.fd);
  Handles.clear();
  Nodes.clear();
  Live.clear();
  Log.clear();
  Committed = 0;
  RemoveContents(Store);
  Live["/"] = NewNode(true, 0755);
  LoadFolder("/");
  Base = Live;
}

bool IsUnder(const std::string &path, const std::string &folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// Moves a name, and everything under it when it is a folder.
void RenameIn(std::map<std::string, int> &names, const std::string &from, const std::string &to) {
  std::map<std::string, int> moved;
  for (auto it = names.begin(); it != names.end();) {
    if (it->first == from || IsUnder(it->first, from)) {
      moved[to + it->first.substr(from.size())] = it->second;
      it = names.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = names.begin(); it != names.end();)
    it = it->first == to || IsUnder(it->first, to) ? names.erase(it) : std::next(it);
  names.insert(moved.begin(), moved.end());
}

void Apply(std::map<std::string, int> &names, const Op &op) {
  switch (op.kind) {
  case kCreate:
  case kMkdir:
    names[op.path] = op.node;
    break;
  case kUnlink:
  case kRmdir:
    names.erase(op.path);
    break;
  case kRename:
    RenameIn(names, op.path, op.to);
    break;
  case kTruncate:
  case kChmod:
    break;
  }
}

// Writes into the backing folder what the disk holds with the first keep log
// entries and the durable bytes; sync takes every live byte as durable.
void WriteDisk(size_t keep, bool sync) {
  std::map<std::string, int> names = Base;
  std::map<int, mode_t> modes;
  std::vector<std::pair<int, off_t>> truncations;
  for (size_t i = 0; i < keep; ++i) {
    const Op &op = Log[i];
    Apply(names, op);
    if (op.kind == kCreate || op.kind == kMkdir || op.kind == kChmod)
      modes[op.node] = op.mode;
    if (op.kind == kTruncate && !sync && i >= Nodes[op.node].flushed_at)
      truncations.push_back({op.node, op.size});
  }
  std::map<int, std::string> paths;
  RemoveContents(Backing);
  for (const auto &name : names) {
    if (name.first == "/")
      continue;
    Node &node = Nodes[name.second];
    std::string path = Backing + name.first;
    paths[name.second] = path;
    if (node.dir) {
      mkdir(path.c_str(), 0755);
    } else {
      const std::string &bytes = sync ? node.live : node.durable;
      if (bytes.empty() || rename(bytes.c_str(), path.c_str()) != 0)
        close(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
    }
  }
  for (const auto &cut : truncations) {
    if (paths.count(cut.first))
      truncate(paths[cut.first].c_str(), cut.second);
  }
  for (const auto &path : paths) {
    mode_t mode = modes.count(path.first) ? modes[path.first] : Nodes[path.first].mode;
    chmod(path.second.c_str(), mode & 07777);
  }
}

void Cut(double keep) {
  Frozen = true;
  size_t pending = Log.size() - Committed;
  KeptAtCut = Committed + static_cast<size_t>(pending * keep);
  long long lost = 0;
  int files = 0;
  for (const Node &node : Nodes) {
    struct stat st;
    if (node.dirty && stat(node.live.c_str(), &st) == 0) {
      lost += st.st_size;
      ++files;
    }
  }
  char text[200];
  std::snprintf(text, sizeof text, "log %zu, committed %zu, kept %zu; %d unflushed files (%lld bytes) forgotten",
                Log.size(), Committed, KeptAtCut, files, lost);
  ++Cuts;
  Status = text;
}

void Sync() {
  for (size_t i = 0; i < Nodes.size(); ++i) {
    Node &node = Nodes[i];
    if (node.dir || !node.dirty)
      continue;
    node.durable = Store + "/d" + std::to_string(i);
    CopyFile(node.live, node.durable);
    node.dirty = false;
    node.flushed_at = Log.size();
  }
  Committed = Log.size();
}

double ParseKeep(const char *text) {
  if (std::strncmp(text, "all", 3) == 0)
    return 1;
  if (std::strncmp(text, "none", 4) == 0)
    return 0;
  double keep = std::atof(text);
  return keep < 0 ? 0 : keep > 1 ? 1 : keep;
}

void StopUsers();

void Command(const std::string &line) {
  if (line.compare(0, 4, "sync") == 0) {
    Sync();
    Calls = 0;
    Users.clear();
  } else if (line.compare(0, 4, "cut ") == 0) {
    Cut(ParseKeep(line.c_str() + 4));
    StopUsers();
  } else if (line.compare(0, 4, "arm ") == 0) {
    char *end = nullptr;
    ArmedCalls = std::strtol(line.c_str() + 4, &end, 10);
    ArmedKeep = ParseKeep(end + (*end == ' '));
  } else if (line.compare(0, 7, "restore") == 0) {
    if (!Frozen)
      Cut(0);
    WriteDisk(KeptAtCut, false);
    Load();
    Frozen = false;
    ArmedCalls = -1;
    Calls = 0;
    ++Restores;
    Restored.notify_all();
    Users.clear();
  } else if (line.compare(0, 6, "disarm") == 0) {
    ArmedCalls = -1;
  }
}

// Wine's server does the file work of every program (a delete on close, a
// rename): it must not stop, or no program could run to the restore.
bool CallerIsWineServer() {
  std::ifstream comm("/proc/" + std::to_string(fuse_get_context()->pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name.compare(0, 10, "wineserver") == 0;
}

// The process of the calling thread.
pid_t CallerProcess() {
  std::ifstream status("/proc/" + std::to_string(fuse_get_context()->pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 5, "Tgid:") == 0)
      return static_cast<pid_t>(std::atol(line.c_str() + 5));
  }
  return 0;
}

void NoteUser() {
  pid_t process = CallerProcess();
  if (process > 0 && process != Commander && !CallerIsWineServer())
    Users.insert(process);
}

// The machine stops at the cut: a program that goes on would act on a disk
// that is gone (Wine's server answers it with failures) and write where the
// cut does not reach (the registry, say). Stopped, it waits to be killed.
void StopUsers() {
  for (pid_t process : Users)
    kill(process, SIGSTOP);
  Users.clear();
}

// After the cut a program stops at its next call, as the machine stops:
// it must not go on with what it learns from a failing disk (and write
// elsewhere, to the registry say). Once the machine starts again (or after
// a minute) the call fails.
bool Halted(std::unique_lock<std::mutex> &held) {
  if (!Frozen) {
    NoteUser();
    return false;
  }
  if (!CallerIsWineServer()) {
    unsigned restores = Restores;
    Restored.wait_for(held, std::chrono::seconds(60), [&] { return Restores != restores; });
  }
  return true;
}

// Every call that changes something passes here first: power may go now.
bool PowerOn(std::unique_lock<std::mutex> &held) {
  ++Calls;
  if (!Frozen && ArmedCalls >= 0 && ArmedCalls-- == 0) {
    Cut(ArmedKeep);
    StopUsers();
  }
  return !Halted(held);
}

int Find(const char *path) {
  auto it = Live.find(path);
  return it == Live.end() ? -1 : it->second;
}

std::string ParentOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

int CheckNew(const char *path) {
  int parent = Find(ParentOf(path).c_str());
  if (parent < 0 || !Nodes[parent].dir)
    return -ENOENT;
  return Find(path) >= 0 ? -EEXIST : 0;
}

void Record(OpKind kind, const std::string &path, int node, const std::string &to = "", off_t size = 0,
            mode_t mode = 0) {
  Op op;
  op.kind = kind;
  op.path = path;
  op.to = to;
  op.node = node;
  op.size = size;
  op.mode = mode;
  Log.push_back(op);
  // The entry changes the node and the folders it names.
  Nodes[node].changed_at = Log.size();
  for (const std::string *name : {&path, &to}) {
    if (name->empty())
      continue;
    int parent = Find(ParentOf(*name).c_str());
    if (parent >= 0)
      Nodes[parent].changed_at = Log.size();
  }
}

// A call that changes something: made under the lock once the power is on
// (PowerOn may cut it first); -EIO when it is off.
template <typename Change> int Changing(Change change) {
  std::unique_lock<std::mutex> held(Lock);
  return PowerOn(held) ? change() : -EIO;
}

// ---- the calls ----

void *Init(fuse_conn_info *, fuse_config *config) {
  config->entry_timeout = 0;
  config->attr_timeout = 0;
  config->negative_timeout = 0;
  config->hard_remove = 1;
  config->use_ino = 0;
  return nullptr;
}

void Destroy(void *) {
  std::unique_lock<std::mutex> held(Lock);
  if (!Frozen)
    Sync();
  WriteDisk(Frozen ? KeptAtCut : Log.size(), !Frozen);
}

int GetAttr(const char *path, struct stat *st, fuse_file_info *) {
  std::unique_lock<std::mutex> held(Lock);
  std::memset(st, 0, sizeof *st);
  st->st_uid = getuid();
  st->st_gid = getgid();
  if (std::strcmp(path, kControl) == 0) {
    st->st_mode = S_IFREG | 0666;
    st->st_nlink = 1;
    return 0;
  }
  if (Halted(held))
    return -EIO;
  int id = Find(path);
  if (id < 0)
    return -ENOENT;
  const Node &node = Nodes[id];
  if (node.dir) {
    st->st_mode = S_IFDIR | node.mode;
    st->st_nlink = 2;
    return 0;
  }
  struct stat live;
  if (stat(node.live.c_str(), &live) != 0)
    return -EIO;
  st->st_mode = S_IFREG | node.mode;
  st->st_nlink = 1;
  st->st_size = live.st_size;
  st->st_blocks = live.st_blocks;
  st->st_mtim = live.st_mtim;
  st->st_ctim = live.st_ctim;
  st->st_atim = live.st_atim;
  return 0;
}

int ReadDir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *, fuse_readdir_flags) {
  std::unique_lock<std::mutex> held(Lock);
  if (Halted(held))
    return -EIO;
  std::string folder = path;
  fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags(0));
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags(0));
  if (folder == "/")
    fill(buffer, kControl + 1, nullptr, 0, fuse_fill_dir_flags(0));
  std::string prefix = folder == "/" ? "/" : folder + "/";
  for (auto it = Live.lower_bound(prefix); it != Live.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    std::string name = it->first.substr(prefix.size());
    if (!name.empty() && name.find('/') == std::string::npos)
      fill(buffer, name.c_str(), nullptr, 0, fuse_fill_dir_flags(0));
  }
  return 0;
}

int OpenNode(int id, fuse_file_info *fi) {
  int fd = open(Nodes[id].live.c_str(), O_RDWR);
  if (fd < 0)
    return -errno;
  fi->fh = NextHandle++;
  Handles[fi->fh] = {fd, id};
  return 0;
}

int Open(const char *path, fuse_file_info *fi) {
  std::unique_lock<std::mutex> held(Lock);
  if (std::strcmp(path, kControl) == 0) {
    fi->direct_io = 1;
    fi->fh = 0;
    return 0;
  }
  if (Halted(held))
    return -EIO;
  int id = Find(path);
  if (id < 0)
    return -ENOENT;
  if (Nodes[id].dir)
    return -EISDIR;
  return OpenNode(id, fi);
}

int Create(const char *path, mode_t mode, fuse_file_info *fi) {
  return Changing([&] {
    if (int error = CheckNew(path))
      return error;
    int id = NewNode(false, mode & 07777);
    Live[path] = id;
    Record(kCreate, path, id, "", 0, mode & 07777);
    return OpenNode(id, fi);
  });
}

int Read(const char *path, char *buffer, size_t size, off_t offset, fuse_file_info *fi) {
  std::unique_lock<std::mutex> held(Lock);
  if (fi->fh == 0) {
    // cuts so far, changing calls since the restore, and what the last cut dropped
    std::string text = std::to_string(Cuts) + " " + std::to_string(Calls) + " " + Status + "\n";
    if (offset >= static_cast<off_t>(text.size()))
      return 0;
    size_t count = std::min(size, text.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, text.data() + offset, count);
    return static_cast<int>(count);
  }
  auto it = Handles.find(fi->fh);
  if (Halted(held) || it == Handles.end())
    return -EIO;
  ssize_t got = pread(it->second.fd, buffer, size, offset);
  return got < 0 ? -errno : static_cast<int>(got);
}

int Write(const char *path, const char *buffer, size_t size, off_t offset, fuse_file_info *fi) {
  std::unique_lock<std::mutex> held(Lock);
  if (fi->fh == 0) {
    Commander = CallerProcess();
    std::string text(buffer, size);
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find_first_of("\r\n", start);
      if (end == std::string::npos)
        end = text.size();
      Command(text.substr(start, end - start));
      start = end + 1;
    }
    return static_cast<int>(size);
  }
  auto it = Handles.find(fi->fh);
  if (!PowerOn(held) || it == Handles.end())
    return -EIO;
  ssize_t done = pwrite(it->second.fd, buffer, size, offset);
  if (done < 0)
    return -errno;
  Nodes[it->second.node].dirty = true;
  Nodes[it->second.node].changed_at = Log.size();
  return static_cast<int>(done);
}

int Truncate(const char *path, off_t size, fuse_file_info *fi) {
  if (std::strcmp(path, kControl) == 0)
    return 0;
  return Changing([&] {
    int id = Find(path);
    if (id < 0)
      return -ENOENT;
    if (truncate(Nodes[id].live.c_str(), size) != 0)
      return -errno;
    Nodes[id].dirty = true;
    Record(kTruncate, path, id, "", size);
    return 0;
  });
}

int Fsync(const char *path, int, fuse_file_info *fi) {
  if (fi->fh == 0)
    return 0;
  return Changing([&] {
    auto it = Handles.find(fi->fh);
    if (it == Handles.end())
      return -EIO;
    int id = it->second.node;
    Node &node = Nodes[id];
    if (node.dirty) {
      node.durable = Store + "/d" + std::to_string(id);
      if (!CopyFile(node.live, node.durable))
        return -EIO;
      node.dirty = false;
    }
    node.flushed_at = Log.size();
    if (!Strict)
      Committed = std::max(Committed, node.changed_at);
    return 0;
  });
}

int FsyncDir(const char *path, int, fuse_file_info *) {
  return Changing([&] {
    int id = Find(path);
    if (id >= 0)
      Committed = std::max(Committed, Nodes[id].changed_at);
    return 0;
  });
}

int Release(const char *, fuse_file_info *fi) {
  std::unique_lock<std::mutex> held(Lock);
  auto it = Handles.find(fi->fh);
  if (it != Handles.end()) {
    close(it->second.fd);
    Handles.erase(it);
  }
  return 0;
}

int Mkdir(const char *path, mode_t mode) {
  return Changing([&] {
    if (int error = CheckNew(path))
      return error;
    int id = NewNode(true, mode & 07777);
    Live[path] = id;
    Record(kMkdir, path, id, "", 0, mode & 07777);
    return 0;
  });
}

bool HasChildren(const std::string &folder) {
  auto it = Live.lower_bound(folder + "/");
  return it != Live.end() && IsUnder(it->first, folder);
}

int Unlink(const char *path) {
  return Changing([&] {
    int id = Find(path);
    if (id < 0)
      return -ENOENT;
    if (Nodes[id].dir)
      return -EISDIR;
    Live.erase(path);
    Record(kUnlink, path, id);
    return 0;
  });
}

int Rmdir(const char *path) {
  return Changing([&] {
    int id = Find(path);
    if (id < 0)
      return -ENOENT;
    if (!Nodes[id].dir)
      return -ENOTDIR;
    if (HasChildren(path))
      return -ENOTEMPTY;
    Live.erase(path);
    Record(kRmdir, path, id);
    return 0;
  });
}

int Rename(const char *from, const char *to, unsigned int flags) {
  return Changing([&] {
    int id = Find(from);
    if (id < 0)
      return -ENOENT;
    if (flags & RENAME_EXCHANGE)
      return -EINVAL;
    int parent = Find(ParentOf(to).c_str());
    if (parent < 0 || !Nodes[parent].dir)
      return -ENOENT;
    int target = Find(to);
    if (target >= 0 && (flags & RENAME_NOREPLACE))
      return -EEXIST;
    if (target >= 0 && Nodes[target].dir && (!Nodes[id].dir || HasChildren(to)))
      return -ENOTEMPTY;
    if (target >= 0 && !Nodes[target].dir && Nodes[id].dir)
      return -ENOTDIR;
    if (IsUnder(to, from))
      return -EINVAL;
    RenameIn(Live, from, to);
    Record(kRename, from, id, to);
    return 0;
  });
}

int Chmod(const char *path, mode_t mode, fuse_file_info *) {
  return Changing([&] {
    int id = Find(path);
    if (id < 0)
      return -ENOENT;
    Nodes[id].mode = mode & 07777;
    Record(kChmod, path, id, "", 0, mode & 07777);
    return 0;
  });
}

int Utimens(const char *, const timespec *, fuse_file_info *) {
  std::unique_lock<std::mutex> held(Lock);
  return Halted(held) ? -EIO : 0;
}

int StatFs(const char *, struct statvfs *st) { return statvfs(Backing.c_str(), st) == 0 ? 0 : -errno; }

int NoXattr(const char *, const char *, const char *, size_t, int) { return -ENOTSUP; }
int NoGetXattr(const char *, const char *, char *, size_t) { return -ENOTSUP; }

std::string Absolute(const char *path) {
  char *real = realpath(path, nullptr);
  std::string result = real ? real : path;
  std::free(real);
  return result;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<char *> args;
  args.push_back(argv[0]);
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--strict") == 0)
      Strict = true;
    else if (argv[i][0] != '-' && plain.size() < 2)
      plain.push_back(argv[i]);
    else
      args.push_back(argv[i]);
  }
  if (plain.size() != 2 || args.size() < 2) {
    std::fprintf(stderr, "usage: %s [--strict] BACKING STORE MOUNTPOINT [fuse options]\n", argv[0]);
    return 2;
  }
  mkdir(plain[1].c_str(), 0700);
  Backing = Absolute(plain[0].c_str());
  Store = Absolute(plain[1].c_str());
  Load();
  fuse_operations ops = {};
  ops.init = Init;
  ops.destroy = Destroy;
  ops.getattr = GetAttr;
  ops.readdir = ReadDir;
  ops.open = Open;
  ops.create = Create;
  ops.read = Read;
  ops.write = Write;
  ops.truncate = Truncate;
  ops.fsync = Fsync;
  ops.fsyncdir = FsyncDir;
  ops.release = Release;
  ops.mkdir = Mkdir;
  ops.unlink = Unlink;
  ops.rmdir = Rmdir;
  ops.rename = Rename;
  ops.chmod = Chmod;
  ops.utimens = Utimens;
  ops.statfs = StatFs;
  ops.setxattr = NoXattr;
  ops.getxattr = NoGetXattr;
  return fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
}
