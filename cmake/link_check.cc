// The main of the link checks: each links every object of one layer with
// the layers below it, so that a reference to a layer above fails to link.
int main() { return 0; }
