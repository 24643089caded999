#ifndef LIBRARYPROGRESS_H
#define LIBRARYPROGRESS_H

class QProgressBar;

// The bar the closed transfer library's progress drives: set on the GUI
// thread for the length of one library call, null at all other times.
extern QProgressBar *libraryProgressBar;

// Progress callback handed to the closed transfer library. Sets the bar's
// maximum to `total` and its value to `current`, then processes the GUI
// thread's pending events once so the window stays alive during the call.
// Does nothing while no library call runs. GUI thread only.
void libraryProgressCallback(int current, int total);

#endif // LIBRARYPROGRESS_H
