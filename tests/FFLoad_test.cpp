#include <gtest/gtest.h>

#include <filesystem>

#include "Services/Exceptions.h"
#include "Services/FFLoad.h"
#include "support/TestSupport.h"

namespace tovamo {
namespace {

using test::TTempDir;

TEST(FFLoader, LibFileNamesFollowTheSonameScheme) {
  EXPECT_EQ(TFFLoader::LibFileName(libAVUtil),
            "libavutil.so." + std::to_string(LIBAVUTIL_VERSION_MAJOR));
  EXPECT_EQ(TFFLoader::LibFileName(libAVCodec), "libavcodec.so.59");
  EXPECT_EQ(TFFLoader::LibFileName(libSwResample), "libswresample.so.4");
}

TEST(FFLoader, LoadsEverySetFromTheSystemAndBindsEntries) {
  TFFLoader loader;
  ASSERT_TRUE(loader.LoadLibs(kAllLibraries)) << loader.LastErrorText();
  EXPECT_TRUE(loader.LibsLoaded(kAllLibraries));
  EXPECT_NE(ff::av_malloc, nullptr);
  EXPECT_NE(ff::avformat_open_input, nullptr);
  EXPECT_NE(ff::sws_scale, nullptr);
  EXPECT_EQ(loader.LibVersionText(libAVCodec).rfind("59.", 0), 0u);

  // Loading an already loaded set succeeds again.
  ASSERT_TRUE(loader.LoadLibs(kAllLibraries)) << loader.LastErrorText();

  // Unloading one library clears exactly its own pointers.
  loader.UnloadLib(libSwScale);
  EXPECT_EQ(ff::sws_scale, nullptr);
  EXPECT_FALSE(loader.LibLoaded(libSwScale));
  EXPECT_NE(ff::av_malloc, nullptr);
  EXPECT_NE(ff::avcodec_open2, nullptr);
  EXPECT_FALSE(loader.LibsLoaded(kAllLibraries));
  EXPECT_TRUE(loader.LibsLoaded(kEncoderLibraries & ~LibBit(libSwScale)));

  loader.UnloadLibs(kAllLibraries);
  EXPECT_EQ(ff::av_malloc, nullptr);
  EXPECT_EQ(ff::avformat_open_input, nullptr);
}

TEST(FFLoader, EmptySetIsRefused) {
  TFFLoader loader;
  EXPECT_THROW(loader.LoadLibs(0), EAssertionFailed);
  EXPECT_THROW(loader.LibsLoaded(0), EAssertionFailed);
  EXPECT_THROW(loader.UnloadLibs(0), EAssertionFailed);
}

TEST(FFLoader, MissingLibraryFolderFallsBackToTheSystem) {
  TFFLoader loader;
  loader.LibraryPath = "/nonexistent/tovamo/lib";
  ASSERT_TRUE(loader.LoadLibs(kEncoderLibraries)) << loader.LastErrorText();
  EXPECT_EQ(loader.LibFilePath(libAVUtil).rfind("/nonexistent", 0), std::string::npos);
}

TEST(FFLoader, LibraryInTheLibraryPathComesBeforeTheSystemOne) {
  // A real copy of the system's avutil in our folder must be the one taken.
  TFFLoader system;
  ASSERT_TRUE(system.LoadLib(libAVUtil));
  const std::string systemPath = system.LibFilePath(libAVUtil);
  system.UnloadLibs(kAllLibraries);

  TTempDir dir;
  std::filesystem::copy_file(systemPath, dir.File(TFFLoader::LibFileName(libAVUtil)));
  TFFLoader loader;
  loader.LibraryPath = dir.Path().string();
  ASSERT_TRUE(loader.LoadLib(libAVUtil)) << loader.LastErrorText();
  EXPECT_EQ(std::filesystem::path(loader.LibFilePath(libAVUtil)).parent_path(), dir.Path());
}

TEST(FFLoader, LibraryLackingAnEntryPointIsNotLoaded) {
  TTempDir dir;
  const std::string name = TFFLoader::LibFileName(libAVUtil);
  std::filesystem::copy_file(TOVAMO_FAKE_LIBRARY, dir.File(name));
  TFFLoader loader;
  loader.LibraryPath = dir.Path().string() + "/";
  EXPECT_FALSE(loader.LoadLibs(kAllLibraries));
  EXPECT_EQ(loader.LastErrorText().rfind("Load function avutil_version@" + name + " error: ", 0),
            0u)
      << loader.LastErrorText();
  EXPECT_NE(loader.LastErrorText().find("undefined symbol"), std::string::npos);
  // All or none: nothing of the set stays loaded or bound.
  for (int i = 0; i < kLibraryCount; ++i) EXPECT_FALSE(loader.LibLoaded(TLibrary(i)));
  EXPECT_EQ(ff::avutil_version, nullptr);
}

TEST(FFLoader, FileThatIsNotALibraryGivesTheLoadError) {
  TTempDir dir;
  const std::string name = TFFLoader::LibFileName(libAVUtil);
  test::WriteFile(dir.File(name), "this is not a shared library\n");
  TFFLoader loader;
  loader.LibraryPath = dir.Path().string();
  EXPECT_FALSE(loader.LoadLibs(kAllLibraries));
  const std::string expected = "Load library " + dir.File(name) + " error: ";
  EXPECT_EQ(loader.LastErrorText().rfind(expected, 0), 0u) << loader.LastErrorText();
  EXPECT_GT(loader.LastErrorText().size(), expected.size());
  EXPECT_FALSE(loader.LibLoaded(libAVUtil));
}

TEST(FFLoader, LibraryWhoseDependencyIsMissingGivesTheLoadError) {
  TTempDir dir;
  const std::string name = TFFLoader::LibFileName(libAVUtil);
  std::filesystem::copy_file(TOVAMO_FAKE_DEPENDENT_LIBRARY, dir.File(name));
  TFFLoader loader;
  loader.LibraryPath = dir.Path().string();
  EXPECT_FALSE(loader.LoadLibs(kAllLibraries));
  EXPECT_EQ(loader.LastErrorText().rfind("Load library " + dir.File(name) + " error: ", 0), 0u)
      << loader.LastErrorText();
  EXPECT_NE(loader.LastErrorText().find("libfake_dependency.so"), std::string::npos)
      << loader.LastErrorText();
  for (int i = 0; i < kLibraryCount; ++i) EXPECT_FALSE(loader.LibLoaded(TLibrary(i)));
}

TEST(FFLoader, LaterLibraryFailureUnloadsTheWholeSet) {
  // avutil and friends load from the system; avformat is a broken file in our folder.
  TTempDir dir;
  test::WriteFile(dir.File(TFFLoader::LibFileName(libAVFormat)), "broken");
  TFFLoader loader;
  loader.LibraryPath = dir.Path().string();
  EXPECT_FALSE(loader.LoadLibs(kAllLibraries));
  EXPECT_NE(loader.LastErrorText().find("libavformat.so.59"), std::string::npos);
  for (int i = 0; i < kLibraryCount; ++i) EXPECT_FALSE(loader.LibLoaded(TLibrary(i)));
  EXPECT_EQ(ff::av_malloc, nullptr);
  EXPECT_EQ(ff::avcodec_open2, nullptr);
}

}  // namespace
}  // namespace tovamo
