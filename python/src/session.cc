#include "session.h"

#include <algorithm>
#include <vector>

namespace PyXelmd {

namespace {
std::vector<std::weak_ptr<Session>>& listed() {
    static auto* sessions = new std::vector<std::weak_ptr<Session>>();
    return *sessions;
}
}  // namespace

void Session::enlist() {
    listed().push_back(weak_from_this());
}

void Session::delist() {
    auto& all = listed();
    all.erase(std::remove_if(all.begin(), all.end(),
                             [this](const std::weak_ptr<Session>& w) {
                                 auto s = w.lock();
                                 return !s || s.get() == this;
                             }),
              all.end());
}

void Session::close_all() {
    std::vector<std::shared_ptr<Session>> open;
    for (auto& w : listed())
        if (auto s = w.lock()) open.push_back(s);
    for (auto& s : open) s->close();
}

}  // namespace PyXelmd
