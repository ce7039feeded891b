#pragma once

// Base of every payload a BinaryTree node can carry. Payloads are deleted
// through this type, so the destructor is virtual; it is pure to keep the
// class abstract, and still needs a body because every derived destructor
// calls it.
class iBase {
public:
    virtual ~iBase() = 0;
};

inline iBase::~iBase() {}
