# Types of the compiled core (python/core_module.cpp). Private: use
# mfwindow.analyse.
from typing import Any, Dict, List, Optional, Tuple

import numpy as np
from numpy.typing import ArrayLike

__version__: str
MOMENT_COUNT: int
ALFA_COUNT: int

class Stopped(Exception): ...

class Progress:
    def __init__(self) -> None: ...
    @property
    def done(self) -> int: ...
    @property
    def total(self) -> int: ...
    def stop(self) -> None: ...

# Settings keyed by the settings table's names (setting_table()); keys left
# out keep the library's defaults. Refusals raise mfwindow.SettingError.
SettingsDict = Dict[str, Any]

def setting_table() -> List[Dict[str, Any]]: ...
def settle(settings: SettingsDict) -> Tuple[Dict[str, Any],
                                            List[Tuple[str, int, int]]]: ...
def analyse(samples: ArrayLike, settings: SettingsDict,
            progress: Optional[Progress] = ...) -> Dict[str, np.ndarray]: ...
def analyse_file(path: str, settings: SettingsDict, column: str = ...,
                 header: str = ..., delimiter: str = ..., out_dir: str = ...,
                 csv: bool = ..., base_dir: str = ...) -> Dict[str, Any]: ...
