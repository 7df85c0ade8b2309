// tarnwave: the disturbance recording window on its own.
//
//   tarnwave [--encoding auto|utf-8|latin-1|gb18030] FILE
//   tarnwave --summary [--encoding ...] FILE
//
// FILE is a COMTRADE .cfg, .dat or .cff. With --summary nothing is shown:
// the recording's figures go to standard output (see summary.h), a reading
// error to standard error, exit status 1.
#include <QApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include "dialog_wave.h"
#include "summary.h"
#include "uilanguage.h"

namespace ct = zv::comtrade;

namespace {

int usage() {
    std::fprintf(stderr, "usage: tarnwave [--summary] [--encoding auto|utf-8|latin-1|gb18030] FILE\n");
    return 2;
}

bool encodingOf(const char* name, ct::Encoding& e) {
    const std::string n = name;
    if (n == "auto")
        e = ct::Encoding::Auto;
    else if (n == "utf-8" || n == "utf8")
        e = ct::Encoding::Utf8;
    else if (n == "latin-1" || n == "latin1")
        e = ct::Encoding::Latin1;
    else if (n == "gb18030")
        e = ct::Encoding::Gb18030;
    else
        return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool summary = false;
    const char* file = nullptr;
    ct::Encoding encoding = ct::Encoding::Auto;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--summary"))
            summary = true;
        else if (!std::strcmp(argv[i], "--encoding") && i + 1 < argc) {
            if (!encodingOf(argv[++i], encoding)) return usage();
        } else if (argv[i][0] == '-' && argv[i][1] != '\0')
            return usage();
        else if (!file)
            file = argv[i];
        else
            return usage();
    }
    if (summary) {
        if (!file) return usage();
        ct::Recording r;
        ct::Error err;
        ct::LoadOptions opt;
        opt.encoding = encoding;
        if (!ct::load(file, r, err, opt)) {
            std::fprintf(stderr, "tarnwave: %s\n", err.text().c_str());
            return 1;
        }
        const std::string text = zv::wave::summary(r);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    uilang::apply(uilang::requested());
    dialog_wave::encoding = encoding;
    dialog_wave window;
    window.show();
    if (file) {
        const QString path = QFile::decodeName(file);
        QTimer::singleShot(0, &window, [&window, path] { window.openFile(path); });
    }
    return app.exec();
}
