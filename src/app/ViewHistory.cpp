#include "app/ViewHistory.hpp"

namespace spirell::app {

void ViewHistory::remember(const SettledView& view) {
    if (!views_.empty()) {
        if (views_[current_] == view)
            return;
        views_.erase(views_.begin() + static_cast<std::ptrdiff_t>(current_) + 1, views_.end());
    }
    views_.push_back(view);
    if (views_.size() > kCapacity)
        views_.pop_front();
    current_ = views_.size() - 1;
    emit changed();
}

std::optional<SettledView> ViewHistory::back() {
    if (!canGoBack())
        return std::nullopt;
    const SettledView view = views_[--current_];
    emit changed();
    return view;
}

std::optional<SettledView> ViewHistory::forward() {
    if (!canGoForward())
        return std::nullopt;
    const SettledView view = views_[++current_];
    emit changed();
    return view;
}

std::vector<SettledView> ViewHistory::upToCurrent() const {
    if (views_.empty())
        return {};
    return {views_.begin(), views_.begin() + static_cast<std::ptrdiff_t>(current_) + 1};
}

} // namespace spirell::app
