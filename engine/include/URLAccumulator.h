#pragma once

#include <QString>
#include <QStringList>

#include <mutex>

namespace vantro {

// Collects the paths of one drop's items from whatever threads deliver them.
class URLAccumulator {
public:
    URLAccumulator() = default;

    URLAccumulator(const URLAccumulator&) = delete;
    URLAccumulator& operator=(const URLAccumulator&) = delete;

    void add(const QString& path);
    // The paths added so far, in the order of addition.
    QStringList snapshot() const;

private:
    mutable std::mutex m_lock;
    QStringList m_urls;
};

} // namespace vantro
