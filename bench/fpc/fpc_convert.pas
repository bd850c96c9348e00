{ Baseline for convert_bench: converts binary form files (16-bit resource
  header + component stream) to form text with the RTL's ObjectBinaryToText,
  memory to memory. Usage: fpc_convert LISTFILE ROUNDS. Prints
  "<elapsed ms> <bytes converted>". }
program fpc_convert;
{$mode objfpc}{$H+}
uses Classes, SysUtils;
var
  Names: TStringList; Inputs: array of TMemoryStream; Output: TMemoryStream;
  I, R: Integer; Bytes: Int64 = 0; Start: QWord;
begin
  Names := TStringList.Create; Names.LoadFromFile(ParamStr(1));
  SetLength(Inputs, Names.Count);
  for I := 0 to Names.Count - 1 do begin
    Inputs[I] := TMemoryStream.Create; Inputs[I].LoadFromFile(Names[I]); Inc(Bytes, Inputs[I].Size);
  end;
  Output := TMemoryStream.Create;
  Start := GetTickCount64;
  for R := 1 to StrToInt(ParamStr(2)) do
    for I := 0 to High(Inputs) do begin
      Inputs[I].Position := 0; Inputs[I].ReadResHeader; Output.Position := 0;
      ObjectBinaryToText(Inputs[I], Output);
    end;
  WriteLn(GetTickCount64 - Start, ' ', Bytes * StrToInt(ParamStr(2)));
end.
