// A read-only mirror of one folder through FUSE that answers each request
// after a fixed delay, to imitate a network share whose every request is a
// round trip:
//
//   share_fs [--delay-us N] [--bandwidth-mbit M] [--stats FILE]
//            [--max-threads N] SOURCE MOUNTPOINT
//
// Lookups, status queries, opendir, readdir, releasedir, open, read and
// release are each answered N microseconds after a thread took the request,
// so the work done here is part of the delay. The answer waits in a queue,
// not in a sleeping thread: one thread sends answers as they fall due, so
// any number of requests can wait at once, and each costs the processor as
// little as FUSE allows (a thread put to sleep and woken for every request
// cost a quarter more on a virtual machine).
//
// With --bandwidth-mbit the file data of read answers also crosses one link
// of M Mbit/s: an answer that is due starts on the link once the answers
// before it have crossed, and is sent when its bytes have, as one network
// cable would carry them. The other answers (attributes, a page of a
// listing) are small beside a photo's header and pass at once.
//
// The kernel caches nothing a share with caching off would not: names and
// attributes expire at once (entry, attribute and negative timeouts of 0),
// so each path step is a lookup and each status query a getattr; no
// readdirplus, so listing a directory does not answer the lookups that
// follow; the page cache is dropped at every open (no keep_cache). Reads
// still go through the page cache, as they do on NFS or SMB: direct I/O would
// turn each read(2) into one synchronous request of exactly its size, where
// the page cache path asks for whole pages by read-ahead, in the background,
// as a network file system's client does. max_background is raised so that
// many such reads can be in flight.
//
// Runs in the foreground until unmounted (umount MOUNTPOINT) or sent SIGINT
// or SIGTERM. SIGUSR1 writes the counters since the previous SIGUSR1 (or
// the mount) to FILE and starts a new interval; the end of the run writes
// them once more: per kind of request the number taken, the most in flight
// at once and the time-integral of the number in flight (request-seconds,
// "busy"; divided by a span of time it is the mean number in flight then),
// and the bytes of file data served. Needs root (or fusermount3) and
// /dev/fuse.
#define FUSE_USE_VERSION 312

#include <dirent.h>
#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <linux/fuse.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr unsigned DEFAULT_MAX_THREADS = 256;
// The kernel keeps at most this many read-aheads and releases in flight;
// its own default of 12 would be the limit, not the delay.
constexpr unsigned MAX_BACKGROUND = 256;

enum Kind { LOOKUP, GETATTR, OPENDIR, READDIR, RELEASEDIR, OPEN, READ,
            RELEASE, KINDS };
constexpr const char* KIND_NAMES[KINDS] = {
    "lookup", "getattr", "opendir", "readdir", "releasedir", "open", "read",
    "release"};

// Requests of one kind: in flight now, the most at once, the number taken
// in this interval and the time-integral of the number in flight. Times are
// nanoseconds since share_fs started.
struct Counter {
  std::atomic<long> current{0};
  std::atomic<long> peak{0};
  std::atomic<long> total{0};
  // The sum of this interval's leave times less the sum of its enter times:
  // each request adds the time it spent in flight, once it has left.
  std::atomic<long long> busy_ns{0};

  void enter(long long now_ns) {
    long now = ++current;
    ++total;
    busy_ns -= now_ns;
    for (long seen = peak; now > seen && !peak.compare_exchange_weak(seen, now);) {
    }
  }
  void leave(long long now_ns) {
    --current;
    busy_ns += now_ns;
  }
  // Ends the interval at `now_ns` and returns its time-integral in
  // request-seconds: the requests still in flight count up to now, and from
  // now in the next interval. Requests that come and go meanwhile may fall
  // in either; the benchmark ends intervals while nothing is in flight.
  double restart(long long now_ns) {
    long long in_flight = current.load();
    long long busy = busy_ns.exchange(-in_flight * now_ns) + in_flight * now_ns;
    total = 0;
    peak = in_flight;
    return static_cast<double>(busy) / 1e9;
  }
};

// What the kernel knows as one inode: its path below SOURCE, kept until the
// kernel forgets its last lookup. The inode number given to the kernel is
// the node's address.
struct Node {
  std::string path;
  std::pair<dev_t, ino_t> id;
  std::uint64_t lookups = 0;
};

class Nodes {
 public:
  Node& at(fuse_ino_t ino) {
    return ino == FUSE_ROOT_ID ? root_ : *reinterpret_cast<Node*>(ino);
  }

  fuse_ino_t remember(const struct stat& st, std::string path) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    std::unique_ptr<Node>& node = nodes_[id];
    if (!node) node.reset(new Node{std::move(path), id});
    ++node->lookups;
    return reinterpret_cast<fuse_ino_t>(node.get());
  }

  void forget(fuse_ino_t ino, std::uint64_t lookups) {
    if (ino == FUSE_ROOT_ID) return;
    std::lock_guard<std::mutex> lock(mutex_);
    Node& node = at(ino);
    if ((node.lookups -= lookups) == 0) nodes_.erase(node.id);
  }

 private:
  std::mutex mutex_;
  std::map<std::pair<dev_t, ino_t>, std::unique_ptr<Node>> nodes_;
  Node root_{".", {}, 1};
};

using Clock = std::chrono::steady_clock;

// Answers wait in order of their due time; one thread sends each when it is
// due, so a waiting answer holds no thread and no processor, and the threads
// that take requests go straight back to the kernel for the next one.
class Replies {
 public:
  // Answers with file data cross a link of this many nanoseconds a byte
  // (0: no link), one after another.
  explicit Replies(double ns_per_byte) : ns_per_byte_(ns_per_byte) {}

  // Queues `send` for `due`, or for later when `link_bytes` must first
  // cross the link behind the answers already on it.
  void push(Clock::time_point due, std::size_t link_bytes,
            std::function<void()> send) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (link_bytes > 0 && ns_per_byte_ > 0) {
      link_free_ = std::max(due, link_free_) +
                   std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double, std::nano>(
                           ns_per_byte_ * static_cast<double>(link_bytes)));
      due = link_free_;
    }
    queue_.push_back({due, next_++, std::move(send)});
    std::push_heap(queue_.begin(), queue_.end(), later);
    if (queue_.front().order == next_ - 1) wake_.notify_one();
  }

  // The sending thread: runs until stop() and an empty queue.
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<std::function<void()>> ready;
    while (!(queue_.empty() && stopping_)) {
      if (queue_.empty()) {
        wake_.wait(lock);
      } else if (Clock::now() < queue_.front().due) {
        wake_.wait_until(lock, queue_.front().due);
      } else {
        for (Clock::time_point now = Clock::now();
             !queue_.empty() && queue_.front().due <= now;) {
          std::pop_heap(queue_.begin(), queue_.end(), later);
          ready.push_back(std::move(queue_.back().send));
          queue_.pop_back();
        }
        lock.unlock();
        for (std::function<void()>& send : ready) send();
        ready.clear();
        lock.lock();
      }
    }
  }

  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_one();
  }

 private:
  struct Answer {
    Clock::time_point due;
    std::uint64_t order;  // answers due at once go in the order queued
    std::function<void()> send;
  };
  // The heap's order: the earliest due answer on top.
  static bool later(const Answer& a, const Answer& b) {
    return a.due != b.due ? a.due > b.due : a.order > b.order;
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  // A heap: answers that crossed the link fall due after later requests'.
  std::vector<Answer> queue_;
  std::uint64_t next_ = 0;
  const double ns_per_byte_;
  Clock::time_point link_free_{};  // when the link has carried all queued
  bool stopping_ = false;
};

struct Share {
  explicit Share(double bandwidth_mbit)
      : bandwidth_mbit(bandwidth_mbit),
        replies(bandwidth_mbit > 0 ? 8e3 / bandwidth_mbit : 0) {}

  long long since_start_ns(Clock::time_point t) const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t - start_time)
        .count();
  }

  int source = -1;  // the mirrored folder, O_PATH
  Clock::duration delay{};
  double bandwidth_mbit;  // 0: no link
  std::string stats_path;
  Nodes nodes;
  Replies replies;
  const Clock::time_point start_time = Clock::now();
  Counter all;
  // All but the releases, which the kernel sends without making the
  // program wait: the requests a program waits for.
  Counter waited;
  Counter kinds[KINDS];
  std::atomic<long long> read_bytes{0};  // file data in read answers
  Clock::time_point interval_start;
  double cpu_at_start = 0;  // the process's processor seconds then
  long interval = 0;
};

Share& share_of(fuse_req_t req) {
  return *static_cast<Share*>(fuse_req_userdata(req));
}

// One request, counted in flight from when a thread takes it until its
// answer is sent, the delay after it was taken (or later, behind the link).
class Request {
 public:
  Request(fuse_req_t req, Kind kind)
      : req_(req), share_(share_of(req)), kind_(kind) {
    Clock::time_point taken = Clock::now();
    due_ = taken + share_.delay;
    for (Counter* c : counters())
      if (c) c->enter(share_.since_start_ns(taken));
  }

  Share& share() { return share_; }

  // Sends the answer that `send` makes, once due; `data` bytes of file data
  // in it cross the link first. Call once.
  void reply(std::function<void(fuse_req_t)> send, std::size_t data = 0) {
    auto answer = [send = std::move(send), req = req_, left = counters(),
                   &share = share_, data] {
      send(req);
      share.read_bytes += static_cast<long long>(data);
      long long now = share.since_start_ns(Clock::now());
      for (Counter* c : left)
        if (c) c->leave(now);
    };
    bool on_link = data > 0 && share_.bandwidth_mbit > 0;
    if (share_.delay == Clock::duration::zero() && !on_link) return answer();
    share_.replies.push(due_, data, std::move(answer));
  }

  // An error, or with 0 the plain success of a release.
  void reply_err(int error) {
    reply([error](fuse_req_t req) { fuse_reply_err(req, error); });
  }

 private:
  // The counters this request is in: its kind's, all, and waited unless
  // it is a release (null then).
  std::array<Counter*, 3> counters() const {
    bool release = kind_ == RELEASE || kind_ == RELEASEDIR;
    return {&share_.kinds[kind_], &share_.all, release ? nullptr : &share_.waited};
  }

  fuse_req_t req_;
  Share& share_;
  Kind kind_;
  Clock::time_point due_{};
};

std::string child_path(const Node& parent, const char* name) {
  return parent.path == "." ? name : parent.path + "/" + name;
}

// Timeouts of 0: the kernel asks again for every use of a name or an
// attribute.
void do_lookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
  Request request(req, LOOKUP);
  Share& share = request.share();
  std::string path = child_path(share.nodes.at(parent), name);
  fuse_entry_param entry{};
  if (fstatat(share.source, path.c_str(), &entry.attr, AT_SYMLINK_NOFOLLOW))
    return request.reply_err(errno);
  entry.ino = share.nodes.remember(entry.attr, std::move(path));
  request.reply([entry](fuse_req_t r) { fuse_reply_entry(r, &entry); });
}

void do_forget(fuse_req_t req, fuse_ino_t ino, std::uint64_t lookups) {
  share_of(req).nodes.forget(ino, lookups);
  fuse_reply_none(req);
}

void do_forget_multi(fuse_req_t req, std::size_t count,
                     fuse_forget_data* forgets) {
  for (std::size_t i = 0; i < count; ++i)
    share_of(req).nodes.forget(forgets[i].ino, forgets[i].nlookup);
  fuse_reply_none(req);
}

void do_getattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info*) {
  Request request(req, GETATTR);
  Share& share = request.share();
  struct stat st;
  if (fstatat(share.source, share.nodes.at(ino).path.c_str(), &st,
              AT_SYMLINK_NOFOLLOW))
    return request.reply_err(errno);
  request.reply([st](fuse_req_t r) { fuse_reply_attr(r, &st, 0.0); });
}

// A directory is read whole at opendir; readdir hands it out in the
// kernel's pieces, one request each.
struct Listing {
  struct Entry {
    std::string name;
    ino_t ino;
    unsigned char type;
  };
  std::vector<Entry> entries;
};

// An open answer whose handle is released if the kernel no longer waits
// for it (the caller was interrupted).
void reply_open(Request& request, const fuse_file_info& fi,
                std::function<void()> release) {
  request.reply([fi, release = std::move(release)](fuse_req_t r) {
    if (fuse_reply_open(r, &fi) != 0) release();
  });
}

void do_opendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  Request request(req, OPENDIR);
  Share& share = request.share();
  int fd = openat(share.source, share.nodes.at(ino).path.c_str(),
                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (!dir) {
    int error = errno;
    if (fd >= 0) close(fd);
    return request.reply_err(error);
  }
  auto* listing = new Listing;
  while (dirent* e = readdir(dir))
    listing->entries.push_back({e->d_name, e->d_ino, e->d_type});
  closedir(dir);
  fi->fh = reinterpret_cast<std::uint64_t>(listing);
  fi->keep_cache = 0;
  fi->cache_readdir = 0;
  reply_open(request, *fi, [listing] { delete listing; });
}

void do_readdir(fuse_req_t req, fuse_ino_t, std::size_t size, off_t offset,
                fuse_file_info* fi) {
  Request request(req, READDIR);
  const Listing& listing = *reinterpret_cast<Listing*>(fi->fh);
  std::vector<char> buffer(size);
  std::size_t used = 0;
  for (std::size_t i = offset; i < listing.entries.size(); ++i) {
    const Listing::Entry& e = listing.entries[i];
    struct stat st{};
    st.st_ino = e.ino;
    st.st_mode = e.type << 12;  // DT_* to S_IF*
    std::size_t need = fuse_add_direntry(req, buffer.data() + used,
                                         size - used, e.name.c_str(), &st,
                                         static_cast<off_t>(i + 1));
    if (need > size - used) break;
    used += need;
  }
  buffer.resize(used);
  request.reply([buffer = std::move(buffer)](fuse_req_t r) {
    fuse_reply_buf(r, buffer.data(), buffer.size());
  });
}

void do_releasedir(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
  Request request(req, RELEASEDIR);
  delete reinterpret_cast<Listing*>(fi->fh);
  request.reply_err(0);
}

void do_open(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
  Request request(req, OPEN);
  Share& share = request.share();
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return request.reply_err(EROFS);
  int fd = openat(share.source, share.nodes.at(ino).path.c_str(),
                  O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return request.reply_err(errno);
  fi->fh = static_cast<std::uint64_t>(fd);
  fi->keep_cache = 0;  // the page cache is dropped: every open reads again
  fi->direct_io = 0;
  fi->noflush = 1;     // nothing to write back, so a close is one release
  reply_open(request, *fi, [fd] { close(fd); });
}

void do_read(fuse_req_t req, fuse_ino_t, std::size_t size, off_t offset,
             fuse_file_info* fi) {
  Request request(req, READ);
  std::vector<char> buffer(size);
  ssize_t got = pread(static_cast<int>(fi->fh), buffer.data(), size, offset);
  if (got < 0) return request.reply_err(errno);
  buffer.resize(static_cast<std::size_t>(got));
  std::size_t data = buffer.size();
  request.reply(
      [buffer = std::move(buffer)](fuse_req_t r) {
        fuse_reply_buf(r, buffer.data(), buffer.size());
      },
      data);
}

void do_release(fuse_req_t req, fuse_ino_t, fuse_file_info* fi) {
  Request request(req, RELEASE);
  close(static_cast<int>(fi->fh));
  request.reply_err(0);
}

// libfuse before 3.17 (Debian 12 has 3.14) never passes the parallel
// directory operations it agrees to on to the kernel, which then holds a
// directory's lock across each lookup of a name it has not seen yet: the
// first walk of a tree after mounting would look up one name at a time per
// directory, where a network client looks up many at once. The flag is set
// in the answer to INIT on its way out, in this program's own writev, which
// libfuse calls in place of the C library's; do_init marks the answer, which
// libfuse sends on the same thread right after it.
thread_local bool answering_init = false;

}  // namespace

extern "C" ssize_t writev(int fd, const iovec* iov, int count) {
  if (answering_init && count >= 2 && iov[1].iov_len >= sizeof(fuse_init_out)) {
    static_cast<fuse_init_out*>(iov[1].iov_base)->flags |= FUSE_PARALLEL_DIROPS;
    answering_init = false;
  }
  return syscall(SYS_writev, fd, iov, count);
}

namespace {

void do_init(void*, fuse_conn_info* conn) {
  answering_init = (conn->capable & FUSE_CAP_PARALLEL_DIROPS) != 0;
  conn->want &= ~(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO |
                  FUSE_CAP_AUTO_INVAL_DATA);
  conn->max_background = MAX_BACKGROUND;
  conn->congestion_threshold = MAX_BACKGROUND * 3 / 4;
}

fuse_lowlevel_ops operations() {
  fuse_lowlevel_ops ops{};
  ops.init = do_init;
  ops.lookup = do_lookup;
  ops.forget = do_forget;
  ops.forget_multi = do_forget_multi;
  ops.getattr = do_getattr;
  ops.opendir = do_opendir;
  ops.readdir = do_readdir;
  ops.releasedir = do_releasedir;
  ops.open = do_open;
  ops.read = do_read;
  ops.release = do_release;
  return ops;
}

double process_cpu_seconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long process_threads() {
  std::ifstream status("/proc/self/status");
  std::string word;
  long threads = 0;
  while (status >> word)
    if (word == "Threads:" && status >> threads) break;
  return threads;
}

// Writes the interval's counters to the stats file, whole (through a
// temporary file and a rename), then starts the next interval.
void write_stats(Share& share) {
  std::string part = share.stats_path + ".part";
  FILE* out = std::fopen(part.c_str(), "w");
  if (!out) return std::perror(part.c_str());
  double cpu = process_cpu_seconds();
  Clock::time_point now = Clock::now();
  double seconds =
      std::chrono::duration<double>(now - share.interval_start).count();
  std::fprintf(
      out, "interval %ld\nseconds %.3f\ncpu_seconds %.3f\ndelay_us %lld\n"
      "bandwidth_mbit %g\nthreads %ld\n", share.interval, seconds,
      cpu - share.cpu_at_start,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::microseconds>(share.delay)
              .count()),
      share.bandwidth_mbit, process_threads());
  long long now_ns = share.since_start_ns(now);
  auto line = [out, now_ns, seconds](const char* name, Counter& c) {
    long total = c.total, peak = c.peak, current = c.current;
    double busy = c.restart(now_ns);
    std::fprintf(out, "%s total %ld peak %ld current %ld busy %.6f mean %.3f\n",
                 name, total, peak, current, busy,
                 seconds > 0 ? busy / seconds : 0.0);
  };
  line("all", share.all);
  line("waited", share.waited);
  for (int k = 0; k < KINDS; ++k) line(KIND_NAMES[k], share.kinds[k]);
  std::fprintf(out, "read_bytes total %lld\n", share.read_bytes.exchange(0));
  std::fclose(out);
  std::rename(part.c_str(), share.stats_path.c_str());
  share.interval_start = now;
  share.cpu_at_start = cpu;
  ++share.interval;
}

// Waits for SIGUSR1, which every other thread blocks, and writes the
// counters at each; ends after the one sent once the session is over.
void stats_thread(Share& share, const std::atomic<bool>& stopping) {
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  for (int signal = 0;;) {
    sigwait(&usr1, &signal);
    if (!share.stats_path.empty()) write_stats(share);
    if (stopping) return;
  }
}

struct Options {
  long delay_us = 0;
  double bandwidth_mbit = 0;
  unsigned max_threads = DEFAULT_MAX_THREADS;
  std::string stats_path;
  const char* source = nullptr;
  const char* mountpoint = nullptr;
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--delay-us" && has_value) {
      options.delay_us = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--bandwidth-mbit" && has_value) {
      options.bandwidth_mbit = std::strtod(argv[++i], nullptr);
    } else if (arg == "--max-threads" && has_value) {
      options.max_threads = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (arg == "--stats" && has_value) {
      options.stats_path = argv[++i];
    } else if (!options.source) {
      options.source = argv[i];
    } else if (!options.mountpoint) {
      options.mountpoint = argv[i];
    } else {
      return false;
    }
  }
  return options.mountpoint && options.delay_us >= 0 &&
         options.bandwidth_mbit >= 0 && options.max_threads > 0;
}

// Mounts, serves until unmounted or signalled, unmounts. Returns the exit
// status.
int serve(Share& share, const Options& options, const char* program) {
  fuse_args args = FUSE_ARGS_INIT(0, nullptr);
  fuse_opt_add_arg(&args, program);
  fuse_opt_add_arg(&args, "-o");
  fuse_opt_add_arg(&args, "ro,fsname=share_fs,subtype=share_fs");
  fuse_lowlevel_ops ops = operations();
  fuse_session* session = fuse_session_new(&args, &ops, sizeof ops, &share);
  fuse_opt_free_args(&args);
  if (!session) return 1;
  int status = 1;
  if (fuse_set_signal_handlers(session) == 0) {
    if (fuse_session_mount(session, options.mountpoint) == 0) {
      std::thread sender([&share] { share.replies.run(); });
      fuse_loop_config* config = fuse_loop_cfg_create();
      // A thread is added whenever all are busy with a request; threads,
      // once started, stay.
      fuse_loop_cfg_set_max_threads(config, options.max_threads);
      fuse_loop_cfg_set_idle_threads(config, options.max_threads);
      status = fuse_session_loop_mt(session, config) == 0 ? 0 : 1;
      fuse_loop_cfg_destroy(config);
      share.replies.stop();
      sender.join();
      fuse_session_unmount(session);
    }
    fuse_remove_signal_handlers(session);
  }
  fuse_session_destroy(session);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: share_fs [--delay-us N] [--bandwidth-mbit M] "
                 "[--stats FILE] [--max-threads N] SOURCE MOUNTPOINT\n");
    return 2;
  }
  Share share(options.bandwidth_mbit);
  share.delay = std::chrono::microseconds(options.delay_us);
  share.stats_path = options.stats_path;
  share.source = open(options.source, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (share.source < 0) {
    std::perror(options.source);
    return 1;
  }
  share.interval_start = Clock::now();
  // Wake-ups within a microsecond of the due time, not the default 50: the
  // delay is what is measured. Threads made later inherit it.
  prctl(PR_SET_TIMERSLACK, 1000UL);
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
  std::atomic<bool> stopping{false};
  std::thread stats(stats_thread, std::ref(share), std::cref(stopping));
  int status = serve(share, options, argv[0]);
  stopping = true;
  pthread_kill(stats.native_handle(), SIGUSR1);
  stats.join();
  return status;
}
