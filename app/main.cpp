// Start-up: until the main window lands this shows the picture named on the command line.
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QStringList>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QScrollArea window;
    window.setWindowTitle("Kelvane");
    auto* label = new QLabel;
    QStringList args = app.arguments();
    args.removeFirst();
    if (!args.isEmpty()) {
        QImage image(args.join(' '));
        if (!image.isNull())
            label->setPixmap(QPixmap::fromImage(image));
    }
    window.setWidget(label);
    window.resize(800, 600);
    window.show();
    return app.exec();
}
