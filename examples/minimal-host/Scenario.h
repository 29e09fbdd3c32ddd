#ifndef SCENARIO_H
#define SCENARIO_H

#include <QtCore/QString>

class MainWindow;

// Plays a short session with real mouse and key events, for the tests:
// every command from every place, a project opened and closed, then quit.
namespace Scenario {
void answerConsent(const QString &answer); // the prompt, once it shows: off, local (empty) or upload
void play(MainWindow *window);
}

#endif // SCENARIO_H
