#pragma once

#include <QObject>
#include <vector>

namespace velm::test {

// The descendants of `parent` that are a T, in Qt's order of children. Our views carry no Q_OBJECT
// (the build runs no moc), so findChildren<View*> would take any widget for one; this asks C++.
template <class T> std::vector<T*> childWidgets(const QObject& parent) {
    std::vector<T*> found;
    for (QObject* child : parent.findChildren<QObject*>()) {
        if (auto* typed = dynamic_cast<T*>(child)) {
            found.push_back(typed);
        }
    }
    return found;
}

template <class T> T* childWidget(const QObject& parent) {
    const auto found = childWidgets<T>(parent);
    return found.empty() ? nullptr : found.front();
}

} // namespace velm::test
