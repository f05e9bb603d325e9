#pragma once
// TypeBase: the signal database.
#include <memory>

class CSvmDb {
public:
    virtual ~CSvmDb() = default;
    // The bundled default database.
    static std::shared_ptr<CSvmDb> LoadDefault();
    // The database installed in the host-services registry.
    static CSvmDb* Instance(int a = -1, int b = 0);
};
