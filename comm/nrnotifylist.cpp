#include "nrnotifylist.h"

TnrNotifyList::~TnrNotifyList() { Clear(); }

int TnrNotifyList::Add(const TnrNotifyEvent& Item) {
    fItems.push_back(std::make_unique<TnrNotifyEvent>(Item));
    return Count() - 1;
}

void TnrNotifyList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(Index));
}

void TnrNotifyList::Delete(int Index) {
    CheckIndex(Index);
    fItems.erase(fItems.begin() + Index);
}

void TnrNotifyList::Clear() {
    for (int n = Count(); n > 0; --n)
        Delete(0);
    fItems.clear();
}

TnrNotifyEvent TnrNotifyList::Get(int Index) const {
    CheckIndex(Index);
    return *fItems[Index];
}

void TnrNotifyList::Put(int Index, const TnrNotifyEvent& Item) {
    CheckIndex(Index);
    *fItems[Index] = Item;
}

int TnrNotifyList::IndexOf(const TnrNotifyEvent& Item) const {
    for (int i = 0; i < Count(); ++i)
        if (*fItems[i] == Item)
            return i;
    return -1;
}

void TnrNotifyList::Call(QObject* Sender, int Code) {
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        // A copy: the handler may overwrite its own entry with Put.
        const TnrNotifyEvent handler = Get(i);
        if (handler)
            handler(Sender, Code);
    }
}
