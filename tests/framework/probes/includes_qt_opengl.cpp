// Must not compile: the program's own code cannot reach OpenGL through Qt.
#include <QOpenGLContext>

int main() { return 0; }
