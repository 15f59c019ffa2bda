// Filling the document list from a large folder, against a bare listing of
// the same folder.  Folders of 5,000, 10,000 and 20,000 documents (half
// ".jpg", half ".bmp") show that the fill grows linearly.
#include "support/FixedDirectories.h"
#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/Boxes.h"
#include "platform/Files.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

// A folder with |count| documents, made once per size.
const QString &folderWith(int count)
{
    static std::map<int, std::unique_ptr<QTemporaryDir>> folders;
    auto &dir = folders[count];
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        const QByteArray base = QFile::encodeName(dir->path()) + '/';
        for (int i = 0; i < count; ++i) {
            const QByteArray name = base + "Beleg_" + QByteArray::number(i / 2) + (i % 2 ? ".bmp" : ".jpg");
            int fd = ::open(name.constData(), O_CREAT | O_WRONLY, 0644);
            if (fd >= 0)
                ::close(fd);
        }
    }
    static std::map<int, QString> paths;
    paths[count] = dir->path() + QLatin1Char('/');
    return paths[count];
}

void BM_BareListing(benchmark::State &state)
{
    const QByteArray folder = QFile::encodeName(folderWith(int(state.range(0))));
    for (auto _ : state) {
        std::vector<std::string> names;
        DIR *d = ::opendir(folder.constData());
        while (dirent *e = ::readdir(d))
            names.emplace_back(e->d_name);
        ::closedir(d);
        benchmark::DoNotOptimize(names.data());
    }
    state.SetComplexityN(state.range(0));
}

void BM_FillDocumentList(benchmark::State &state)
{
    bench::OffscreenApplication();
    static bench::SilentBoxes boxes;
    static platform::ScopedService<platform::Boxes> useBoxes(boxes);
    QTemporaryDir programDir;
    testing_support::FixedDirectories dirs;
    dirs.SetProgramDirectory(programDir.path());
    Unit1::ResetState();
    Unit1::lpf = platform::ProgramDirectory();
    TForm1 form;
    Unit1::SetPfad(folderWith(int(state.range(0))));
    for (auto _ : state) {
        form.Dir_Listbox_fuellen(&form);
        benchmark::DoNotOptimize(form.ListBox1->count());
    }
    if (form.ListBox1->count() != state.range(0))
        state.SkipWithError("the list does not hold every document");
    state.SetComplexityN(state.range(0));
}

} // namespace

BENCHMARK(BM_BareListing)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(BM_FillDocumentList)->Arg(5000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->Complexity();

BENCHMARK_MAIN();
