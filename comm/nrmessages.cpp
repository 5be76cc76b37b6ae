#include "nrmessages.h"

#include <QHash>
#include <mutex>

std::uint32_t RegisterWindowMessage(const QString& name) {
    static std::mutex lock;
    static QHash<QString, std::uint32_t> table;
    static std::uint32_t next = 0xC000;

    std::lock_guard g(lock);
    const QString key = name.toCaseFolded();
    if (auto it = table.constFind(key); it != table.constEnd())
        return it.value();
    if (next > 0xFFFF)
        return 0;
    table.insert(key, next);
    return next++;
}
