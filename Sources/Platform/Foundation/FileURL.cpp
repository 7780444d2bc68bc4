#include "Platform/FileURL.hpp"

#include "Platform/SystemError.hpp"

#include <unistd.h>
#include <vector>

namespace platform {
namespace {

std::string currentDirectory() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) throwSystemError("getcwd");
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

FileURL::FileURL(const std::string& path) {
    if (path.empty() || path.front() != '/') {
        std::string base = currentDirectory();
        path_ = withoutTrailingSlashes(path.empty() ? base : base + "/" + path);
    } else {
        path_ = withoutTrailingSlashes(path);
    }
}

std::vector<std::string> pathComponents(const std::string& path) {
    std::vector<std::string> components;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string component = path.substr(start, end - start);
        if (!component.empty() && component != ".") components.push_back(std::move(component));
        start = end + 1;
    }
    return components;
}

FileURL FileURL::standardized() const {
    std::vector<std::string> components;
    for (auto& component : pathComponents(path_)) {
        if (component != "..") components.push_back(std::move(component));
        else if (!components.empty()) components.pop_back();
    }
    std::string result;
    for (const auto& component : components) result += "/" + component;
    return FileURL(result.empty() ? "/" : result);
}

FileURL FileURL::appending(const std::string& component) const {
    return FileURL(path_ == "/" ? "/" + component : path_ + "/" + component);
}

FileURL FileURL::deletingLastPathComponent() const {
    std::size_t slash = path_.rfind('/');
    return FileURL(slash == 0 || slash == std::string::npos ? "/" : path_.substr(0, slash));
}

std::string FileURL::lastPathComponent() const {
    if (path_ == "/") return "/";
    return path_.substr(path_.rfind('/') + 1);
}

}  // namespace platform
