#pragma once
// A lock and a condition to wait on, on the platform's slim lock and condition variable. Work
// handed between threads thousands of times a second stays cheap this way: the toolchain's
// pthread mutex and condition ask the system for every contended wait and every wake, and under
// Wine that is a trip to its server each time.
#include <windows.h>

class Monitor {
public:
    Monitor() = default;
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Wakes every thread waiting in Hold::Wait; they look at their condition again.
    void WakeAll() { WakeAllConditionVariable(&m_condition); }

    // Holds the lock for its scope; Release and Acquire let a thread work outside it.
    class Hold {
    public:
        explicit Hold(Monitor& monitor) : m_monitor(monitor) { Acquire(); }
        ~Hold() {
            if (m_held) Release();
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

        void Acquire() {
            AcquireSRWLockExclusive(&m_monitor.m_lock);
            m_held = true;
        }
        void Release() {
            m_held = false;
            ReleaseSRWLockExclusive(&m_monitor.m_lock);
        }
        // Waits, the lock given up meanwhile, until `done()` holds.
        template <class Condition>
        void Wait(Condition done) {
            while (!done()) SleepConditionVariableSRW(&m_monitor.m_condition, &m_monitor.m_lock, INFINITE, 0);
        }

    private:
        Monitor& m_monitor;
        bool m_held = false;
    };

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_condition = CONDITION_VARIABLE_INIT;
};
