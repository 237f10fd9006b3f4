// Writes a timeline of file events under some folders, and the folders made in them later, so that
// a batch can be timed from outside the process that runs it: one line per event, "<ms> <event>
// <path>", milliseconds since the start, until SIGTERM or SIGINT. Events: CREATE, WRITTEN (closed
// after writing), MOVED (moved in), DELETE.
// usage: file_timeline <output file> <folder>...
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>

namespace {

volatile std::sig_atomic_t Stop = 0;

void OnSignal(int) { Stop = 1; }

constexpr uint32_t Watched = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE;

const char* EventName(uint32_t mask) {
    if (mask & IN_CREATE) return "CREATE";
    if (mask & IN_CLOSE_WRITE) return "WRITTEN";
    if (mask & IN_MOVED_TO) return "MOVED";
    return "DELETE";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: file_timeline <output file> <folder>...\n");
        return 2;
    }
    FILE* out = std::fopen(argv[1], "w");
    const int watcher = inotify_init();
    if (out == nullptr || watcher < 0) {
        std::perror("file_timeline");
        return 1;
    }
    std::map<int, std::string> folders;
    for (int i = 2; i < argc; ++i) {
        const int watch = inotify_add_watch(watcher, argv[i], Watched);
        if (watch < 0) {
            std::fprintf(stderr, "file_timeline: cannot watch %s\n", argv[i]);
            return 1;
        }
        folders[watch] = argv[i];
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;  // no SA_RESTART: the read below returns on the signal
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    const auto start = std::chrono::steady_clock::now();
    alignas(inotify_event) char buffer[64 * 1024];
    while (!Stop) {
        const ssize_t got = read(watcher, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len == 0 || (event->mask & Watched) == 0) continue;
            const std::string path = folders[event->wd] + "/" + event->name;
            if ((event->mask & IN_CREATE) && (event->mask & IN_ISDIR)) {
                const int watch = inotify_add_watch(watcher, path.c_str(), Watched);
                if (watch >= 0) folders[watch] = path;
            }
            std::fprintf(out, "%.1f %s %s\n", ms, EventName(event->mask), path.c_str());
        }
        std::fflush(out);
    }
    std::fclose(out);
    return 0;
}
