# This repository is its own Homebrew tap. Until a release is tagged, install
# the main branch by the formula's full name, which trusts this formula alone
# where Homebrew asks for trust (6 and later); "brew trust OWNER/thrum" would
# trust the whole tap instead:
#
#   brew tap OWNER/thrum https://github.com/OWNER/thrum
#   brew install --HEAD OWNER/thrum/thrum
#   brew test thrum
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
