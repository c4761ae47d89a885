#include "platform/paths.h"

namespace corvalin {

namespace fs = std::filesystem;

fs::path joinPath(const fs::path& folder, std::string_view name) {
    std::string joined;
    joined.reserve(folder.native().size() + 1 + name.size());
    joined = folder.native();
    if (joined.empty() || joined.back() != '/')
        joined += '/';
    joined += name;
    return fs::path(std::move(joined));
}

fs::path joinPath(const fs::path& folder, const fs::path& name) {
    return joinPath(folder, std::string_view(name.native()));
}

fs::path joinPath(const fs::path& folder, const std::string& name) {
    return joinPath(folder, std::string_view(name));
}

fs::path joinPath(const fs::path& folder, const char* name) {
    return joinPath(folder, std::string_view(name));
}

fs::path withoutTrailingSlash(const fs::path& path) {
    std::string text = path.native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return fs::path(text);
}

std::string ownName(const fs::path& folder) {
    const std::string text = withoutTrailingSlash(folder).native();
    if (text == "/")
        return text;
    const auto slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

bool isSameOrBelow(const fs::path& inner, const fs::path& outer) {
    const fs::path a = withoutTrailingSlash(inner.lexically_normal());
    const fs::path b = withoutTrailingSlash(outer.lexically_normal());
    auto ai = a.begin();
    for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
        if (ai == a.end() || *ai != *bi)
            return false;
    }
    return true;
}

} // namespace corvalin
