#include "URLAccumulator.h"

namespace vantro {

void URLAccumulator::add(const QByteArray& path)
{
    const std::lock_guard guard(m_lock);
    m_urls.append(path);
}

QList<QByteArray> URLAccumulator::snapshot() const
{
    const std::lock_guard guard(m_lock);
    return m_urls;
}

} // namespace vantro
