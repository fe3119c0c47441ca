"""The Preferences folder as programs share it: a folder of another user's or one others may
write is refused; nothing in it is written through a link; a read-only preferences file is read
and the run warns that it cannot store; runs sharing it go side by side, an open dialog blocking
none; scratch files on a disk too small for the selection are a warning, even under --quiet, and
one too small for the image's rows is a failure."""
import os
import resource
import subprocess

import numpy as np
import pytest

from conftest import block

BATCH = ["in.tif", "--mask", "mask.tif", "--method", "white", "--quiet"]
RUN = BATCH + ["-o", "out.tif"]


@pytest.fixture
def files(program):
    program.write("in.tif", np.full((9, 12), 77, np.uint8))
    program.write("mask.tif", block())
    return program


@pytest.mark.parametrize("make, says", [
    (lambda p: (p.mkdir(0o777), p.chmod(0o777)), "can be written by others (mode 777)"),
    (lambda p: (p.mkdir(0o700), os.chown(p, 65534, 65534)), "belongs to another user"),
    (lambda p: p.write_text(""), "is not a folder"),
])
def test_a_folder_others_could_plant_links_in_is_refused(files, make, says):
    if says == "belongs to another user" and os.geteuid() != 0:
        pytest.skip("only root can give a folder to another user")
    make(files.folder / "shared")
    done = files(*RUN, "--prefs", "shared")
    assert done.returncode == 1 and done.stderr.count("\n") == 1
    assert f"preferences folder shared {says}" in done.stderr
    assert not (files.folder / "out.tif").exists()


def test_no_file_of_the_folder_is_written_through_a_link(files):
    (files.folder / "prefs").mkdir(0o700)
    victim = files.folder / "victim"
    victim.write_text("mine")
    for name in ("ZELKpref", "BackingStore", "SelectionImage"):
        os.symlink(victim, files.folder / "prefs" / name)
    done = files(*RUN, env={"AREAFILL_TEMP_MEMORY": "0"})
    assert done.returncode == 0, done.stderr
    assert victim.read_text() == "mine"
    assert sorted(os.listdir(files.folder / "prefs")) == ["ZELKpref"]
    assert not (files.folder / "prefs" / "ZELKpref").is_symlink()


def test_a_read_only_preferences_file_is_read_and_cannot_store(files):
    assert files("in.tif", "--mask", "mask.tif", "-o", "out.tif", "--method", "black").returncode == 0
    os.chmod(files.folder / "prefs" / "ZELKpref", 0o444)
    done = files("in.tif", "--mask", "mask.tif", "-o", "out.tif", "--quiet")
    if os.geteuid() == 0:
        pytest.skip("root writes a read-only file")
    assert done.returncode == 0
    assert "areafill: warning: cannot store the preferences" in done.stderr
    assert (files.read("out.tif")[block() > 0] == 0).all(), "the remembered method ran"


def test_without_home_there_is_no_preferences_folder(files):
    env = {k: v for k, v in files.env.items() if k not in ("HOME", "XDG_CONFIG_HOME")}
    done = subprocess.run([os.environ["AREAFILL_CLI"], *RUN], cwd=files.folder, env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 1 and "no preferences folder" in done.stderr
    assert not (files.folder / ".config").exists()


def test_runs_sharing_the_folder_go_side_by_side_past_an_open_dialog(files):
    results = []

    def batch_while_the_dialog_waits():
        results.extend(files(*BATCH, "-o", f"out{i}.tif").returncode for i in range(4))
        return "\r"

    status, screen = files.on_terminal(["in.tif", "-o", "dialog.tif", "--mask", "mask.tif"],
                                       [("Enter:", batch_while_the_dialog_waits)])
    assert results == [0] * 4, "the batch waited for the dialog"
    assert status == 0, screen


@pytest.mark.parametrize("rounds", [10])
def test_eight_runs_at_once_on_disk_scratch_images_all_succeed(files, rounds):
    env = {**files.env, "AREAFILL_TEMP_MEMORY": "0"}
    membrane = ["in.tif", "--mask", "mask.tif", "--method", "membrane", "--quiet"]
    assert files(*membrane, "-o", "out.tif").returncode == 0
    want = files.read("out.tif")
    for _ in range(rounds):
        children = [subprocess.Popen(files.command([*membrane, "-o", f"o{i}.tif"]),
                                     cwd=files.folder, env=env, stderr=subprocess.PIPE, text=True)
                    for i in range(8)]
        for i, child in enumerate(children):
            assert child.wait(120) == 0, child.stderr.read()
            assert (files.read(f"o{i}.tif") == want).all()
    assert sorted(os.listdir(files.folder / "prefs")) == ["ZELKpref"]


def test_a_disk_too_small_for_the_selection_warns_and_for_the_image_fails(files):
    # The colour image fits in the scratch memory allowed; the selection's scratch file is larger
    # than a file may grow, so the filter fills without it. The image's own rows, put on disk,
    # cannot be held at all: exit 3, and nothing written or left.
    files.write("in.tif", np.full((400, 400, 3), 77, np.uint8), "rgb")
    mask = np.zeros((400, 400), np.uint8)
    mask[100:300, 100:300] = mask[0, 0] = mask[-1, -1] = 255  # the filter area is the image
    files.write("mask.tif", mask)

    def small_files():
        resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))

    done = files(*BATCH, "-o", "out.png",
                 env={"AREAFILL_TEMP_MEMORY": str(400 * 400 * 3 + 6)}, preexec_fn=small_files)
    assert done.returncode == 0, done.stderr
    assert done.stderr.startswith("areafill: warning: the selection could not be kept")
    done = files(*BATCH, "-o", "rows.png", env={"AREAFILL_IMAGE_MEMORY": "0"},
                 preexec_fn=small_files)
    assert done.returncode == 3 and done.stderr == (
        "areafill: cannot write the image's rows in a temporary file in prefs (File too large)\n")
    assert not (files.folder / "rows.png").exists()
    assert sorted(os.listdir(files.folder / "prefs")) == ["ZELKpref"]
