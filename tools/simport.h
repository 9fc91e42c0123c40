#pragma once
// The port's surroundings: who has it open, and the symbolic link other programs find it by.
#include <algorithm>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>

namespace tarviks {

// Counts the clients that have the port open, from the opens and closes of the slave device
// that inotify reports (the simulator's own descriptor was opened before the watch). With no
// watch, a client is assumed to be there all the time.
class ClientWatch
{
public:
    ClientWatch() = default;
    ClientWatch(const ClientWatch &) = delete;
    ClientWatch &operator=(const ClientWatch &) = delete;
    ~ClientWatch();

    bool open(const std::string &path);

    int fd() const { return m_fd; }
    bool connected() const { return m_fd < 0 || m_clients > 0; }

    template <class F> void drain(F &&changed)
    {
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while (m_fd >= 0 && (n = read(m_fd, buffer, sizeof buffer)) > 0) {
            for (char *p = buffer; p < buffer + n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(p);
                if (e->mask & IN_OPEN) {
                    ++m_clients;
                    changed(true, m_clients);
                }
                if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) {
                    m_clients = std::max(0, m_clients - 1);
                    changed(false, m_clients);
                }
                p += sizeof(inotify_event) + e->len;
            }
        }
    }

private:
    int m_fd = -1;
    int m_clients = 0;
};

// A symbolic link to the port, made so that it never goes missing for whoever follows it, and
// removed at the end unless another simulator has taken the name over since.
class LinkGuard
{
public:
    LinkGuard() = default;
    LinkGuard(const LinkGuard &) = delete;
    LinkGuard &operator=(const LinkGuard &) = delete;
    ~LinkGuard();

    // No path: no link.
    bool make(const std::string &linkPath, const std::string &target);

private:
    std::string m_path;
    std::string m_target;
};

} // namespace tarviks
