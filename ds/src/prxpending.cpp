// The pending file: the place for a routine declared in its family header
// whose body a later part of the interpreter completes. Every routine is
// built, so the file is empty.
