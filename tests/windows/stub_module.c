/* Code of the resource-only test modules. */
int orloTestModule(void) { return 0; }
