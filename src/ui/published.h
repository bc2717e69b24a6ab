#pragma once

#include <QJSEngine>
#include <QQmlEngine>

namespace telmora {

// The application's one object of a type QML sees as a singleton: every engine that asks gets
// this object, never a second one, and never takes ownership of it.
template<typename T>
class Published {
public:
    static void set(T* object) { s_object = object; }
    // Withdraws `object` unless another has been published since.
    static void withdraw(T* object)
    {
        if (s_object == object)
            s_object = nullptr;
    }
    static T* create(QQmlEngine*, QJSEngine*)
    {
        Q_ASSERT(s_object);
        QJSEngine::setObjectOwnership(s_object, QJSEngine::CppOwnership);
        return s_object;
    }

private:
    static inline T* s_object = nullptr;
};

} // namespace telmora
