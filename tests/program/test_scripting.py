"""The fill choice between runs: an action recorded and replayed, the choice each Preferences
folder remembers when no method is given, and --dialog where no one can answer."""
import numpy as np

from conftest import block
from samples import pattern

IMAGE, MASK = pattern(9, 12, 3, np.uint8), block()
MASK[2] //= 3  # a soft top edge


def test_a_replayed_recording_gives_the_same_image_and_the_same_recording(program):
    recorded = program.fill(IMAGE, MASK, "--method", "hblend", "--fg", "#204060", "--record",
                            "hblend.json")[1]
    json = (program.folder / "hblend.json").read_text()
    assert '"FilM"' in json and '"rB22"' in json and '"value": 8' in json
    other = program.fill(IMAGE, MASK, "--method", "white")[1]  # remembered now, not replayed
    said, replayed = program.fill(IMAGE, MASK, "--replay", "hblend.json", "--fg", "#204060",
                                  "--record", "again.json")
    assert "filled with hblend" in said and (replayed == recorded).all()
    assert (other != recorded).any()
    assert (program.folder / "again.json").read_text() == json


def test_without_a_method_each_preferences_folder_gives_its_last_choice(program):
    for method, prefs in [("black", "a"), ("white", "b")]:
        program.fill(IMAGE, MASK, "--method", method, "--prefs", prefs)
    for method, prefs in [("black", "a"), ("white", "b")]:
        assert f"filled with {method}" in program.fill(IMAGE, MASK, "--prefs", prefs)[0]
    assert (program.folder / "a" / "ZELKpref").is_file()


def test_dialog_without_a_terminal_takes_the_replayed_or_remembered_choice(program):
    program.fill(IMAGE, MASK, "--method", "mean", "--record", "mean.json")
    program.fill(IMAGE, MASK, "--method", "white")
    assert "filled with mean" in program.fill(IMAGE, MASK, "--replay", "mean.json", "--dialog")[0]
    assert "filled with mean" in program.fill(IMAGE, MASK, "--dialog")[0]
