#pragma once

#include <QByteArray>
#include <QList>

#include <mutex>

namespace vantro {

// Collects the paths of one drop's items from whatever threads deliver them,
// as the bytes the file system knows them by.
class URLAccumulator {
public:
    URLAccumulator() = default;

    URLAccumulator(const URLAccumulator&) = delete;
    URLAccumulator& operator=(const URLAccumulator&) = delete;

    void add(const QByteArray& path);
    // The paths added so far, in the order of addition.
    QList<QByteArray> snapshot() const;

private:
    mutable std::mutex m_lock;
    QList<QByteArray> m_urls;
};

} // namespace vantro
