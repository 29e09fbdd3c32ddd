#ifndef THREADPRIORITY_H
#define THREADPRIORITY_H

namespace ThreadPriority {
// Lets the host's threads run first on a busy machine: the calling thread
// alone takes what is left.
void lowerCurrentThread();
}

#endif // THREADPRIORITY_H
