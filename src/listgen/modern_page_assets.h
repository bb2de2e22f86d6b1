#pragma once
// The fixed style and script of the modern page, written into every page as
// they are: the page is one file that works from a disk with no network, so
// nothing may be fetched. Neither holds any text from tags or users; the
// script reads the rows from the escaped table alone.

#include <string_view>

namespace melodex::modern {

// The colours, the border and the dark scheme come before this as custom
// properties (--page, --table, --text, --title, --border).
inline constexpr std::string_view kStyle = R"css(
body{margin:1rem;background:var(--page);color:var(--text);font-family:system-ui,"Noto Sans CJK JP",sans-serif;line-height:1.35}
h1{margin:0 0 .5rem;font-size:1.4rem;color:var(--title);text-align:left}
.tools{margin:0 0 .5rem}
.tools input{font:inherit;padding:.25rem .5rem;width:min(24rem,90vw)}
table{border-collapse:collapse;background:var(--table);color:var(--text)}
td,th{border:var(--border) solid var(--line);padding:.2rem .45rem;vertical-align:top;text-align:left}
#tracks td:not(.n){min-width:4em;max-width:22em}
.n{text-align:right;white-space:nowrap;font-variant-numeric:tabular-nums}
#tracks thead th{position:sticky;top:0;z-index:1;background:var(--table);white-space:nowrap;box-shadow:0 1px 0 var(--line)}
th button{font:inherit;font-weight:bold;color:inherit;background:none;border:0;padding:0;cursor:pointer}
th[aria-sort=ascending] button::after{content:" \25B2"}
th[aria-sort=descending] button::after{content:" \25BC"}
.gh th{padding-top:.7rem;font-size:1.05rem}
.st td{text-align:right;font-size:.9em}
.st span+span::before{content:" / "}
.totals{margin-top:1rem}
.shown{display:none}
.js .shown{display:table-cell}
footer{margin-top:1rem;color:var(--title)}
@media print{.tools{display:none}#tracks thead th{position:static;box-shadow:none}body{margin:0}tr{break-inside:avoid}th button::after{content:none}}
)css";

// Texts compare in natural order ("2" before "10"), numbers by the value in
// data-v; a row's filter text is folded once: NFKC makes full-width and
// half-width forms one, katakana is read as hiragana. The totals of the shown
// rows are spelt as the page's totals are (TotalSizeText, SecToTime in
// out1.cpp): the browser test compares the two on an unfiltered page.
inline constexpr std::string_view kScript = R"js(
(function(){
"use strict";
var d=document,table=d.getElementById("tracks");
if(!table||!table.tHead)return;
d.documentElement.classList.add("js");
var heads=table.tHead.rows[0].cells,bodies=[].slice.call(table.tBodies),rows=[];
var coll=new Intl.Collator("ja",{numeric:true,sensitivity:"base"});
function fold(s){return s.normalize("NFKC").toLowerCase().replace(/[\u30a1-\u30f6]/g,function(c){return String.fromCharCode(c.charCodeAt(0)-96);});}
bodies.forEach(function(b){[].forEach.call(b.rows,function(r){if(r.hasAttribute("data-b")){var t="";for(var i=1;i<r.cells.length;i++)t+=r.cells[i].textContent+"\n";r.k=fold(t);rows.push(r);}});});
function grouped(n){var s=String(n),o="";for(var i=0;i<s.length;i++){if(i&&(s.length-i)%3===0)o+=",";o+=s[i];}return o;}
function sizeText(b){if(b>1048576){var h=Math.round(b/1048576*100);return grouped(Math.floor(h/100))+"."+String(h%100).padStart(2,"0")+" MB";}
if(b>1024)return grouped(Math.round(b/1024))+" KB";return (b?grouped(b):"0")+" Byte";}
function two(n){return String(n).padStart(2,"0");}
function timeText(s){return two(Math.floor(s/3600))+":"+two(Math.floor(s%3600/60))+":"+two(s%60);}
function refresh(){var n=0,bytes=0,secs=0;
bodies.forEach(function(b){var shown=0;[].forEach.call(b.rows,function(r){if(!r.k||r.hidden)return;shown++;n++;bytes+=+r.getAttribute("data-b");secs+=+r.getAttribute("data-s");var c=r.cells[0],t=String(n);if(c.textContent!==t)c.textContent=t;});if(b.classList.contains("g"))b.hidden=!shown;});
d.getElementById("shown-count").textContent=n;d.getElementById("shown-size").textContent=sizeText(bytes);d.getElementById("shown-time").textContent=timeText(secs);}
var sorted=-1,dir=1;
function sortBy(c){dir=sorted===c?-dir:1;sorted=c;var num=heads[c].getAttribute("data-sort")==="num";
bodies.forEach(function(b){var list=[],end=b.querySelector("tr.st"),f=d.createDocumentFragment();
[].forEach.call(b.rows,function(r){if(r.k)list.push({r:r,k:num?+r.cells[c].getAttribute("data-v"):r.cells[c].textContent,i:+r.cells[0].getAttribute("data-v")});});
list.sort(function(x,y){var v=num?x.k-y.k:coll.compare(x.k,y.k);return (v||x.i-y.i)*dir;});
list.forEach(function(e){f.appendChild(e.r);});b.insertBefore(f,end);});
for(var i=0;i<heads.length;i++){if(i===c)heads[i].setAttribute("aria-sort",dir>0?"ascending":"descending");else heads[i].removeAttribute("aria-sort");}
refresh();}
[].forEach.call(heads,function(h,i){var b=d.createElement("button");b.type="button";while(h.firstChild)b.appendChild(h.firstChild);h.appendChild(b);b.addEventListener("click",function(){sortBy(i);});});
var box=d.getElementById("filter");box.hidden=false;
box.addEventListener("input",function(){var q=fold(box.value);rows.forEach(function(r){var hide=q!==""&&r.k.indexOf(q)<0;if(r.hidden!==hide)r.hidden=hide;});refresh();});
refresh();
})();
)js";

} // namespace melodex::modern
