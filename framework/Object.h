#pragma once
// CObject: the root of the framework's serialisable classes. It gives a virtual
// destructor and Serialize; the run-time class machinery of the original framework is not
// reproduced (code that must tell classes apart uses a kind tag of its own).
class CArchive;

class CObject {
public:
    virtual ~CObject() = default;
    // Writes the object to a storing archive or reads it from a loading one.
    virtual void Serialize(CArchive& /*ar*/) {}

protected:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;
};
