// One way to replace a platform service: a slot per service interface that
// holds either a service installed by a test or, when none is, the real one.
//
//   // Foo.h
//   class FooService { public: virtual ~FooService() = default; ... };
//   QUILLORA_DECLARE_SERVICE(FooService)
//   FooService &Foo();                       // optional shorthand for Service<FooService>::get()
//
//   // Foo.cpp (exactly one definition, in the platform library)
//   QUILLORA_DEFINE_SERVICE(FooService, RealFooService)
//
//   // a test
//   FakeFoo fake;
//   platform::ScopedService<FooService> use(fake);   // restored at the end of the scope
//
// The slot lives in the platform library, which is one per process, so the
// program, the Data Source Manager and the data sources share each service.
// Services are used from the GUI thread only.
#pragma once

#include <utility>

namespace platform {

template <class Interface>
class Service {
public:
    // The installed service, or the real one when none is installed.
    static Interface &get()
    {
        Interface *s = slot();
        return s ? *s : real();
    }
    // Installs |service| (not owned; null: the real one again) and returns
    // the previously installed one (null when that was the real one).
    static Interface *install(Interface *service) { return std::exchange(slot(), service); }
    // True when a test installed a service.
    static bool overridden() { return slot() != nullptr; }
    // The real service, whatever is installed (for doubles that pass some
    // requests on).  Defined once per interface by QUILLORA_DEFINE_SERVICE.
    static Interface &real();

private:
    static Interface *&slot();
};

// Installs a service for the lifetime of the object and then puts back
// whatever was installed before, so overrides nest.
template <class Interface>
class ScopedService {
public:
    explicit ScopedService(Interface &service) : previous_(Service<Interface>::install(&service)) {}
    ~ScopedService() { Service<Interface>::install(previous_); }
    ScopedService(const ScopedService &) = delete;
    ScopedService &operator=(const ScopedService &) = delete;

private:
    Interface *previous_;
};

} // namespace platform

// Declares that the slot of |Interface| is defined in one translation unit;
// put it in the service's header, after the interface, outside any namespace.
#define QUILLORA_DECLARE_SERVICE(Interface)                                                                           \
    template <>                                                                                                        \
    Interface *&platform::Service<Interface>::slot();                                                                 \
    template <>                                                                                                        \
    Interface &platform::Service<Interface>::real();

// Defines the slot of |Interface| with a function-local |Real| as the real
// service (constructed on first use, never before the application object).
#define QUILLORA_DEFINE_SERVICE(Interface, Real)                                                                      \
    template <>                                                                                                        \
    Interface *&platform::Service<Interface>::slot()                                                                  \
    {                                                                                                                  \
        static Interface *installed = nullptr;                                                                        \
        return installed;                                                                                              \
    }                                                                                                                  \
    template <>                                                                                                        \
    Interface &platform::Service<Interface>::real()                                                                   \
    {                                                                                                                  \
        static Real service;                                                                                           \
        return service;                                                                                                \
    }
