#include "tools/simport.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tarviks {

ClientWatch::~ClientWatch()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool ClientWatch::open(const std::string &path)
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return false;
    if (inotify_add_watch(m_fd, path.c_str(), IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

bool LinkGuard::make(const std::string &linkPath, const std::string &target)
{
    if (linkPath.empty())
        return true;
    // A fresh link renamed over the old one: whoever follows the path never finds it missing.
    const std::string temp = linkPath + ".tarviks-sim." + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(target.c_str(), temp.c_str()) != 0)
        return false;
    if (std::rename(temp.c_str(), linkPath.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    m_path = linkPath;
    m_target = target;
    return true;
}

LinkGuard::~LinkGuard()
{
    if (m_path.empty())
        return;
    // Another simulator may have taken the name over since; its link stays.
    std::error_code ec;
    if (std::filesystem::read_symlink(m_path, ec) == m_target)
        unlink(m_path.c_str());
}

} // namespace tarviks
