// The pending file: a routine declared in its family header whose body
// another part of the interpreter completes gets a body here that raises the
// internal fault "panic: not built: NAME". Every routine is built, so the
// file is empty.
