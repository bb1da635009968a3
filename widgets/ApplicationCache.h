#pragma once
// ApplicationCache<T>: an object that a widget class keeps for all its
// instances (pictures, fonts, laid-out texts), made on first use and
// destroyed with the application. A function-local static would be
// destroyed at the process's exit, after QApplication, when Qt's pictures
// and fonts must no longer be touched; this one goes in the application's
// own clean-up (a post routine, which QApplication runs first thing in its
// destructor). A later application makes it anew on its first use.
//
// Thread rule: main thread only (like the widgets that use it).

#include <QCoreApplication>

#include <utility>

namespace fieldmon {

class ApplicationCaches {
public:
    // How many caches are alive (for tests of their lifetime).
    static int live() { return live_; }

protected:
    static inline int live_ = 0;
};

template <class T>
class ApplicationCache : public ApplicationCaches {
public:
    // The object, made with `make()` if there is none.
    template <class Make>
    static T& get(Make&& make)
    {
        if (!instance()) {
            instance() = new T(std::forward<Make>(make)());
            ++live_;
            qAddPostRoutine(&destroy);
        }
        return *instance();
    }

private:
    static T*& instance()
    {
        static T* object = nullptr;
        return object;
    }
    static void destroy()
    {
        if (T* object = std::exchange(instance(), nullptr)) {
            delete object;
            --live_;
        }
    }
};

} // namespace fieldmon
