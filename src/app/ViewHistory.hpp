#pragma once

#include "boxes/BoxTexts.hpp"

#include <QObject>

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

namespace spirell::app {

// A view the user settled on: a formula (its index) and the five box texts.
struct SettledView {
    int formula = 0;
    boxes::BoxTexts boxes;

    bool operator==(const SettledView&) const = default;
};

// The views the user settled on while the program runs, oldest first, with
// the place Back and Forward have reached. Remembering a view after stepping
// back drops the views that lay ahead, as a browser does. Whatever shows
// whether a step is possible follows changed(), as actions follow an undo
// stack.
class ViewHistory : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kCapacity = 1000;

    explicit ViewHistory(QObject* parent = nullptr) : QObject(parent) {}

    // The same view twice in a row is remembered once; beyond the capacity
    // the oldest view is dropped.
    void remember(const SettledView& view);

    // The view one step back or forward, which becomes the current one; none
    // at either end.
    std::optional<SettledView> back();
    std::optional<SettledView> forward();

    bool canGoBack() const { return current_ > 0; }
    bool canGoForward() const { return current_ + 1 < views_.size(); }

    // The views from the oldest kept one to the current one.
    std::vector<SettledView> upToCurrent() const;
    std::size_t size() const { return views_.size(); }

signals:
    // The views or the place among them changed.
    void changed();

private:
    std::deque<SettledView> views_;
    std::size_t current_ = 0; // meaningful while views_ is not empty
};

} // namespace spirell::app
