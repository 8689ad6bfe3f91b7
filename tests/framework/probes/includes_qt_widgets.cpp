// Must not compile: the program's own code cannot reach the GUI library.
#include <QWidget>

int main() { return 0; }
