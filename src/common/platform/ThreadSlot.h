#ifndef THREADSLOT_H
#define THREADSLOT_H

#include <QtCore/qglobal.h>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <utility>

// One T per thread, deleted when the thread ends: what a thread_local object
// is elsewhere. MinGW's thread_local frees an object's storage before its
// destructor runs at thread exit, so a destructor that frees memory frees
// it twice and corrupts the heap. A fiber-local slot's callback runs first.
template <typename T>
class ThreadSlot
{
public:
    ThreadSlot() : m_index(FlsAlloc(&ThreadSlot::release)) {}
    ~ThreadSlot()
    {
        // A thread may still log from a later teardown: it takes the
        // fallback below.
        if (m_index != FLS_OUT_OF_INDEXES)
            FlsFree(std::exchange(m_index, FLS_OUT_OF_INDEXES));
    }
    ThreadSlot(const ThreadSlot &) = delete;
    ThreadSlot &operator=(const ThreadSlot &) = delete;

    T &local()
    {
        if (void *p = m_index == FLS_OUT_OF_INDEXES ? nullptr : FlsGetValue(m_index))
            return *static_cast<T *>(p);
        T *made = new T;
        if (m_index != FLS_OUT_OF_INDEXES && FlsSetValue(m_index, made))
            return *made;
        // No slot (none left, or freed at unload): the thread keeps its
        // object until the process ends.
        thread_local T *kept = nullptr;
        if (kept)
            delete made;
        else
            kept = made;
        return *kept;
    }

private:
    static void WINAPI release(void *p) { delete static_cast<T *>(p); }

    DWORD m_index;
};
#endif

#endif // THREADSLOT_H
