# This repository is its own Homebrew tap. Until a release is tagged, install
# the main branch (OWNER is the GitHub account that hosts the repository);
# Homebrew 6 and later load a formula from a third-party tap only once it is
# trusted (an older Homebrew has no "brew trust" and needs none):
#
#   brew tap OWNER/thrum https://github.com/OWNER/thrum
#   brew trust --tap OWNER/thrum
#   brew install --HEAD thrum
require "open3"

class Thrum < Formula
  desc "Play haptic patterns on the trackpad of a Mac"
  homepage "https://github.com/OWNER/thrum"
  license "ISC"
  head "https://github.com/OWNER/thrum.git", branch: "main"

  depends_on "cmake" => :build
  depends_on arch: :arm64
  depends_on :macos

  def install
    system "cmake", "-S", ".", "-B", "build", *std_cmake_args
    system "cmake", "--build", "build"
    system "cmake", "--install", "build"
  end

  test do
    # A Mac without a haptic trackpad, a CI runner or a virtual Mac, answers
    # with exactly one line and status 1; nothing is ever written to stdout.
    # Either answer passes, so the log says which one this Mac gave.
    out, err, status = Open3.capture3("#{bin}/thrum", "--check")
    ohai "thrum --check: status #{status.exitstatus}, #{err.empty? ? "nothing on standard error" : err.chomp.inspect}"
    assert_empty out
    if status.success?
      assert_empty err
    else
      assert_equal 1, status.exitstatus
      assert_equal "no trackpad with a haptic motor\n", err
    end
  end
end
