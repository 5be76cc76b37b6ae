// What the instrumented builds of the program (brisemer-probe, brisemer-soak) share with
// the scripts that drive them: reports and answers go to standard output one line each,
// flushed at once; commands come from standard input one a line, read on the
// user-interface thread without ever blocking it.
#pragma once

#include <QByteArray>
#include <QObject>
#include <functional>

class QSocketNotifier;

void ProbeSay(const QByteArray& line);

class TProbeCommands : public QObject {
public:
    // Calls onCommand with every non-empty line (trimmed), and onEnd once when standard
    // input closes (the driver has gone).
    TProbeCommands(std::function<void(const QByteArray&)> onCommand, std::function<void()> onEnd,
                   QObject* parent);

private:
    void Read();

    std::function<void(const QByteArray&)> fOnCommand;
    std::function<void()> fOnEnd;
    QSocketNotifier* fNotifier;
    QByteArray fInput;
};
