// The notification list and TMethod identity: order of calls, listeners told apart by
// routine, an exception ending a call, index checks, and the list owning its records.
#include "nrnotifylist.h"
#include "testio.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

struct TListener : QObject {
    QStringList* journal;
    QString name;
    TListener(QStringList* j, QString n) : journal(j), name(std::move(n)) {}
    void Notify(QObject*, int code) { journal->append(name + QString::number(code)); }
    void Other(QObject*, int code) { journal->append(name + QStringLiteral("-other") + QString::number(code)); }
    void Throw(QObject*, int) { throw ENrException(QStringLiteral("listener failed")); }
};

} // namespace

TEST(NotifyList, CallsListenersInOrderAndDeleteShiftsLaterEntries) {
    QStringList journal;
    TListener a(&journal, "A"), b(&journal, "B");
    TnrNotifyList list;
    list.Call(nullptr, 1); // empty list: nothing to call
    EXPECT_TRUE(journal.isEmpty());

    EXPECT_EQ(list.Add(TnrNotifyEvent(&a, &TListener::Notify)), 0);
    EXPECT_EQ(list.Add(TnrNotifyEvent(&b, &TListener::Other)), 1);
    list.Call(nullptr, 3);
    EXPECT_EQ(journal, (QStringList{"A3", "B-other3"}));

    list.Delete(0);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_TRUE(list.Get(0).SameRoutine(TnrNotifyEvent(&b, &TListener::Other)));
    journal.clear();
    list.Call(nullptr, 2);
    EXPECT_EQ(journal, (QStringList{"B-other2"}));
}

TEST(NotifyList, IndexOfMatchesRoutineAndBoundObject) {
    QStringList journal;
    TListener a(&journal, "A"), b(&journal, "B");
    TnrNotifyList list;
    list.Add(TnrNotifyEvent(&a, &TListener::Notify));
    EXPECT_EQ(list.IndexOf(TnrNotifyEvent(&a, &TListener::Notify)), 0);
    // Another routine of the same object, or the same routine of another object, is another listener.
    EXPECT_EQ(list.IndexOf(TnrNotifyEvent(&a, &TListener::Other)), -1);
    EXPECT_EQ(list.IndexOf(TnrNotifyEvent(&b, &TListener::Notify)), -1);
    EXPECT_TRUE(TnrNotifyEvent(&a, &TListener::Notify).SameRoutine(TnrNotifyEvent(&b, &TListener::Notify)));
    // Lambdas are each a routine of their own; copies share it.
    TnrNotifyEvent lambda([&](QObject*, int) { journal.append("L"); });
    TnrNotifyEvent copy = lambda;
    list.Add(lambda);
    EXPECT_EQ(list.IndexOf(copy), 1);
    EXPECT_EQ(list.IndexOf(TnrNotifyEvent([](QObject*, int) {})), -1);
}

TEST(NotifyList, ExceptionStopsTheRemainingListenersAndReachesTheCaller) {
    QStringList journal;
    TListener a(&journal, "A"), bad(&journal, "X"), c(&journal, "C");
    TnrNotifyList list;
    list.Add(TnrNotifyEvent(&a, &TListener::Notify));
    list.Add(TnrNotifyEvent(&bad, &TListener::Throw));
    list.Add(TnrNotifyEvent(&c, &TListener::Notify));
    EXPECT_THROW(list.Call(nullptr, 1), ENrException);
    EXPECT_EQ(journal, (QStringList{"A1"}));
}

TEST(NotifyList, IndexChecksAndClear) {
    QStringList journal;
    TListener a(&journal, "A"), b(&journal, "B");
    TnrNotifyList list;
    EXPECT_THROW(list.Get(0), EListError);
    EXPECT_THROW(list.Delete(-1), EListError);
    for (int i = 0; i < 3; ++i)
        list.Add(TnrNotifyEvent(&a, &TListener::Notify)); // Add itself does not refuse duplicates
    EXPECT_EQ(list.Count(), 3);
    list.Put(1, TnrNotifyEvent(&b, &TListener::Other));
    list.Call(nullptr, 7);
    EXPECT_EQ(journal, (QStringList{"A7", "B-other7", "A7"}));
    EXPECT_THROW(list.Put(3, TnrNotifyEvent(&b, &TListener::Other)), EListError);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(NotifyList, ComponentRegistersEachRoutineOnce) {
    QStringList journal;
    TListener a(&journal, "A"), b(&journal, "B");
    TTestIO io;
    io.NotifyAdd(TnrNotifyEvent(&a, &TListener::Notify));
    io.NotifyAdd(TnrNotifyEvent(&a, &TListener::Notify));
    io.NotifyAdd(TnrNotifyEvent(&b, &TListener::Notify));
    io.NotifyDelete(TnrNotifyEvent(&a, &TListener::Throw)); // not registered: nothing happens
    io.Update();
    EXPECT_EQ(journal, (QStringList{"A3", "B3"}));
    io.NotifyDelete(TnrNotifyEvent(&a, &TListener::Notify));
    io.NotifyDelete(TnrNotifyEvent(&a, &TListener::Notify)); // already gone: nothing happens
    journal.clear();
    io.Update();
    EXPECT_EQ(journal, (QStringList{"B3"}));
}
