// Interns the few distinct texts that many events share (priorities, hosts)
// so that a million listed events hold a small index instead of a copy.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace brantwell {

class TextPool {
public:
    std::uint32_t intern(std::string_view text)
    {
        if (const auto it = index_.find(text); it != index_.end())
            return it->second;
        const auto id = static_cast<std::uint32_t>(texts_.size());
        // A deque never moves its elements, so the view keys stay valid.
        const std::string& stored = texts_.emplace_back(text);
        index_.emplace(std::string_view(stored), id);
        return id;
    }
    const std::string& text(std::uint32_t id) const { return texts_[id]; }
    std::size_t size() const { return texts_.size(); }

private:
    std::deque<std::string> texts_;
    std::unordered_map<std::string_view, std::uint32_t> index_;
};

} // namespace brantwell
